#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace TqHarness {
class CJobHarness;
}

namespace TqCass {

// The differences a verify found, by kind ("no restored file holds its
// bytes"), each with where it was found. Printed as a count per kind and a
// few examples, so that a restore that failed wholesale reads in a screen.
class CVerifyProblems {
 public:
  // Examples printed per kind.
  static constexpr size_t kShown = 3;

  void Add(const std::string& where, const std::string& kind);
  bool Empty() const { return count_ == 0; }
  size_t Count() const { return count_; }
  // "  <kind>: N" with the first examples ("    <where>") and
  // "    (M more)", kinds in the order first met.
  void Print() const;

 private:
  size_t count_ = 0;
  std::vector<std::string> order_;
  std::map<std::string, std::vector<std::string>> byKind_;
};

// The files a restore job placed on the nodes of the home's backed-up
// cluster, as its data movers' result files list them
// (<node job results>/TQ_JobResults/2/0/<job>/restore.<stream>[.<n>].out,
// "<path>  DATA  <size>" lines).
std::set<std::string> PlacedFiles(const TqHarness::CJobHarness& harness, long long jobId);

}  // namespace TqCass
