#include "tools/lib/CollectTotals.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "platform/multinode/CollectFileEntry.h"

namespace TqHarness {

namespace fs = std::filesystem;

CCollectTotals::FileTotals CCollectTotals::ReadFile(const std::string& path, int64_t size) {
  FileTotals file;
  file.size = size;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    MultiNodeBackupOps::CCollectFileEntry item;
    // A flat line ends in "|<size>"; a numbered line never parses as one (its
    // "|"s are an extent's separators, before the path).
    if (!MultiNodeBackupOps::CCollectFileEntry::ParseFlatLine(line, item).IsError()) {
      file.flat = true;
    } else if (MultiNodeBackupOps::CCollectFileEntry::ParseNumberedLine(line, item).IsError()) {
      continue;
    }
    if (item.isExtent) {
      if (item.extentOffset == 0) ++file.files;
      file.bytes += item.extentLength;
      continue;
    }
    struct stat st;
    if (::lstat(item.path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      ++file.files;
      file.bytes += static_cast<uint64_t>(st.st_size);
    }
  }
  return file;
}

CCollectTotals::Totals CCollectTotals::Read() {
  static const std::regex kNumbered("Collect(Tot|Inc)[0-9]+\\.tqf");
  std::lock_guard<std::mutex> lock(mutex_);
  Totals totals;
  totals.complete = !folders_.empty();
  for (const std::string& folder : folders_) {
    bool found = false;
    Totals numbered, flat;
    bool hasFlat = false;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
      const std::string name = entry.path().filename().string();
      if (!std::regex_match(name, kNumbered)) continue;
      std::error_code e;
      const int64_t size = static_cast<int64_t>(entry.file_size(e));
      if (e) continue;
      found = true;
      FileTotals& file = files_[entry.path().string()];
      if (file.size != size) file = ReadFile(entry.path().string(), size);
      Totals& into = file.flat ? flat : numbered;
      hasFlat = hasFlat || file.flat;
      into.files += file.files;
      into.bytes += file.bytes;
    }
    const Totals& node = hasFlat ? flat : numbered;
    totals.files += node.files;
    totals.bytes += node.bytes;
    if (!found) totals.complete = false;
  }
  return totals;
}

}  // namespace TqHarness
