#pragma once

#include <cstdint>
#include <string>

#include "platform/base/QiError.h"

namespace MultiNodeBackupOps {

// One entry of a collect file and its two written forms.
//
// An entry's item is either a path, or an extent of a large file:
//   path item:    <path>
//   extent item:  %EXTENT%<offset>|<length>|<file size>|<path>
// The flat collect file holds "<item>|<size>\n" per entry followed by an
// empty line, where size is the bytes the entry carries (the file's size, or
// the extent's length). A numbered collect file holds "<item>\n" per entry.
//
// Paths are written percent-escaped so that any path comes back exactly and
// a line can always be split: "%" is written "%25", a line feed "%0A", a
// carriage return "%0D" and "|" "%7C"; every other byte (blanks and UTF-8
// included) stands as it is. A written path therefore never begins with
// "%EXTENT%" or "%CONTAINER%", and a path without those four characters
// reads the same escaped or not.
class CCollectFileEntry {
 public:
  static constexpr const char* kExtentPrefix = "%EXTENT%";
  static constexpr const char* kContainerPrefix = "%CONTAINER%";

  CCollectFileEntry() = default;
  CCollectFileEntry(const std::string& path, int64_t size) : path(path), size(size) {}

  // The escaped form of a path, and back. A "%" that is not followed by two
  // hexadecimal digits is error 13.
  static std::string EncodePath(const std::string& path);
  static CQiError DecodePath(const std::string& text, std::string& path);

  // The item as written ("<path>" or the extent form).
  std::string FormatItem() const;
  // "<item>|<size>" (without line ends).
  std::string FormatFlatLine() const;
  // "<item>" (without the line end).
  std::string FormatNumberedLine() const;

  // Read one line (without its line end) of either form. A malformed line,
  // an empty path, an extent of length 0 or one that ends beyond its file,
  // and "%CONTAINER%" entries (never written here) are error 13.
  static CQiError ParseFlatLine(const std::string& line, CCollectFileEntry& entry);
  static CQiError ParseNumberedLine(const std::string& line, CCollectFileEntry& entry);

  std::string path;
  int64_t size = 0;  // bytes the entry carries (flat form only)
  bool isExtent = false;
  uint64_t extentOffset = 0;
  uint64_t extentLength = 0;
  uint64_t fileSize = 0;  // size of the whole file (extents only)
};

}  // namespace MultiNodeBackupOps
