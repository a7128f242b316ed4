#include "tools/tqcass/VerifyProblems.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tools/lib/JobHarness.h"

namespace TqCass {

void CVerifyProblems::Add(const std::string& where, const std::string& kind) {
  auto& places = byKind_[kind];
  if (places.empty()) order_.push_back(kind);
  places.push_back(where);
  ++count_;
}

void CVerifyProblems::Print() const {
  for (const std::string& kind : order_) {
    const std::vector<std::string>& places = byKind_.at(kind);
    // A problem of the whole job has no place.
    if (places.size() == 1 && places.front().empty()) {
      std::printf("  %s\n", kind.c_str());
      continue;
    }
    std::printf("  %s: %zu\n", kind.c_str(), places.size());
    for (size_t i = 0; i < places.size() && i < kShown; ++i) {
      std::printf("    %s\n", places[i].c_str());
    }
    if (places.size() > kShown) std::printf("    (%zu more)\n", places.size() - kShown);
  }
}

std::set<std::string> PlacedFiles(const TqHarness::CJobHarness& harness, long long jobId) {
  static const std::string kMark = "  DATA  ";
  std::set<std::string> placed;
  const std::string id = std::to_string(jobId);
  for (const auto& node : harness.State().nodes) {
    const std::string folder = harness.JobResultsOf(node.name, jobId) + "/TQ_JobResults/2/0/" + id;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("restore.", 0) != 0 || entry.path().extension() != ".out") continue;
      std::ifstream in(entry.path());
      std::string line;
      while (std::getline(in, line)) {
        const size_t mark = line.rfind(kMark);
        if (mark != std::string::npos && mark > 0) placed.insert(line.substr(0, mark));
      }
    }
  }
  return placed;
}

}  // namespace TqCass
