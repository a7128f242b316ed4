#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace TqDataMover {

// One restored SSTable component written under a hidden temporary name in
// its table folder, waiting for the other components of its generation.
struct SHeldComponent {
  std::string headerPath;  // the item it came from
  std::string temp;        // the temporary, beside `path`
  std::string path;        // the name it gets in the folder
  uint64_t size = 0;
  // Of the temporary as written (a rename keeps them).
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t mtimeNs = 0;
};

// The SSTable generations a restore places into table folders, shared by
// every stream of the process: a generation becomes visible in a live table
// folder only whole, and only when every component came out of the store
// intact. Cassandra would load an SSTable whose other components were
// placed without the damaged one, or serve a partial one.
//
// A generation is known by its item folder and the name up to its component
// ("/c/dc/node/ks/t" and "nb-3-big-"). Each stream tells what its browse of
// the index found (Expect), so the components of a generation are known
// before any arrives, whichever archive file, task or stream holds them.
// Arrive holds a written component until the last one of its generation has
// arrived, then hands the whole generation over to be renamed into place
// (Data.db last). A component that fails (Fail: a checksum that does not
// match, a write that failed) keeps its generation from being placed; a
// retry of its task that brings it intact still completes it. When the last
// stream of a node ends (Detach), every generation of it still missing a
// component is left out whole: its temporaries are removed, and the major
// event 0x0D000101 names the table folder, the generation and why (the
// failures of its components, or which never arrived).
class CRestoreGenerations {
 public:
  static constexpr uint32_t kEvSSTableLeftOut = 0x0D000101;

  static CRestoreGenerations& Instance();

  // The item folder and generation prefix of an SSTable component's item
  // path; false for any other name.
  static bool GenerationOf(const std::string& headerPath, std::string& folder, std::string& prefix);

  // The browse of job `jobId` found the item `headerPath`.
  void Expect(int64_t jobId, const std::string& headerPath);

  // A stream of `owner` (its node's job results folder) starts / ends.
  void Attach(int64_t jobId, const std::string& owner);
  void Detach(int64_t jobId, const std::string& owner);

  enum Outcome {
    kUngrouped,  // not a component of an expected generation: place it alone
    kHeld,       // held until its generation is whole
    kPlaceNow,   // the generation is whole: `ready` holds it, Data.db last
    kLeftOut,    // its generation is left out; the temporary was removed
  };
  Outcome Arrive(int64_t jobId, const std::string& owner, const SHeldComponent& component,
                 std::vector<SHeldComponent>& ready);
  // The item `headerPath`, restored by a stream of `owner`, could not be
  // restored because of `reason`; `path` is the name it would have had (""
  // when not known).
  void Fail(int64_t jobId, const std::string& owner, const std::string& headerPath,
            const std::string& path, const std::string& reason);
  // A generation handed over by Arrive could not be placed whole: the
  // caller removed what it had placed; it is reported as left out.
  void PlacementFailed(int64_t jobId, const SHeldComponent& any, const std::string& reason);

  // How many generations of the job were left out.
  int LeftOut(int64_t jobId) const;
  void ForgetJob(int64_t jobId);

 private:
  CRestoreGenerations() = default;

  // The components of one generation by the rest of their names after the
  // generation ("Data.db"), held compactly: every SSTable of a restore is
  // expected at its start, before any is placed. The usual components are
  // bits; any other name is kept as it is.
  class CComponents {
   public:
    void Insert(const std::string& component);
    bool Empty() const { return known_ == 0 && others_.empty(); }
    size_t Size() const;
    // In the order of their names.
    std::vector<std::string> Names() const;
    void Clear();

   private:
    uint16_t known_ = 0;
    std::vector<std::string> others_;
  };
  struct SGeneration {
    CComponents expected;
    // By component, each of them expected; only while the generation is
    // being restored.
    std::map<std::string, SHeldComponent> held;
    std::map<std::string, std::string> failures;  // component -> why
    std::string owner;
    std::string targetPath;  // the name of a component in its folder, once known
    bool placed = false;
    bool leftOut = false;
  };
  using Key = std::tuple<int64_t, std::string, std::string>;

  // Leaves `generation` out (mutex held): removes its temporaries and
  // raises the event (after the lock is released, by the caller, from
  // `events`).
  struct SLeftOut {
    std::string folder;
    std::string generation;
    std::string reason;
  };
  void LeaveOutLocked(const Key& key, SGeneration& generation, const std::string& reason,
                      std::vector<SLeftOut>& events);
  static void Raise(const std::vector<SLeftOut>& events);

  mutable std::mutex mutex_;
  std::map<Key, SGeneration> generations_;
  std::map<std::pair<int64_t, std::string>, int> streams_;
  std::map<int64_t, int> leftOut_;
};

}  // namespace TqDataMover
