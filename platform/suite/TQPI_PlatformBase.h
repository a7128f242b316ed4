#pragma once

#include <cstddef>

// The central server as this client's installation knows it.
class TQPI_PlatformBase {
 public:
  // The central server's host name into `buffer` (a terminated string of at
  // most `size` bytes): the registry value "Base"/"sZentorerHostName", else
  // this machine's host name (the stand-in central server runs beside the
  // clients). False when the buffer is null or too small.
  static bool getZentorerHostName(char* buffer, size_t size);
  // The same answer under the other spelling the suite's callers use.
  static bool getZentoreHostName(char* buffer, size_t size);
};
