#include "tools/lib/JobResultRecords.h"

#include <fstream>

namespace TqHarness {

namespace fs = std::filesystem;

std::vector<fs::path> CJobResultRecords::Find(const std::vector<std::string>& folders,
                                              const char* name) {
  std::vector<fs::path> records;
  for (const std::string& folder : folders) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      std::error_code e;
      if (it->path().filename() == name && it->symlink_status(e).type() == fs::file_type::regular) {
        records.push_back(it->path());
      }
    }
  }
  return records;
}

std::string CJobResultRecords::FirstLine(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace TqHarness
