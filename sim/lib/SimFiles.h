#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace TqSim {

// A small deterministic generator (splitmix64): the same seed gives the same
// fixture on every machine and library version.
struct SimRandom {
  explicit SimRandom(uint64_t seed) : state(seed) {}
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // A random (version 4) UUID with dashes.
  std::string Uuid();
  uint64_t state;
};

// File helpers of the simulation. Failures return false with `error` set.
std::string JoinPath(const std::string& dir, const std::string& name);
std::string ParentPath(const std::string& path);
std::string BaseName(const std::string& path);
bool IsDir(const std::string& path);
bool IsFile(const std::string& path);
bool MakeDirs(const std::string& path, std::string& error);
// Entry names of a directory in ascending order (none when it cannot be read).
std::vector<std::string> ListDir(const std::string& path);
bool ReadTextFile(const std::string& path, std::string& text, std::string& error);
// Writes the whole file (parent directories are created).
bool WriteTextFile(const std::string& path, const std::string& text, std::string& error);
// Writes `size` bytes that depend only on `seed`.
bool WriteSeededFile(const std::string& path, uint64_t size, uint64_t seed, std::string& error);
bool HardLink(const std::string& from, const std::string& to, std::string& error);
bool CopyFile(const std::string& from, const std::string& to, std::string& error);
// Removes a file or a directory tree; a missing path is no error.
bool RemoveTree(const std::string& path, std::string& error);
// Splits at `separator`, trimming blanks and dropping empty parts.
std::vector<std::string> SplitList(const std::string& text, char separator);

}  // namespace TqSim
