// The SSTable generations of a restore: held until every component arrived
// intact, handed over whole (Data.db last), left out whole (temporaries
// removed, event naming the folder, the generation and why) when a component
// failed or never came by the end of the node's streams.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "platform/datamover/RestoreGenerations.h"
#include "platform/log/EventJournal.h"

namespace {

using TqDataMover::CRestoreGenerations;
using TqDataMover::SHeldComponent;

constexpr int64_t kJob = 610;
const std::string kItems = "/c1/dc1/node1/ks1/t1/";
const char* const kOwner = "/results/node1";

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

class Generations : public ::testing::Test {
 protected:
  void SetUp() override { CEventJournal::Instance().Clear(); }
  void TearDown() override {
    generations_.ForgetJob(kJob);
    CEventJournal::Instance().Clear();
  }

  // The component `name` written to its temporary in the table folder.
  SHeldComponent Written(const std::string& name) {
    SHeldComponent component;
    component.headerPath = kItems + name;
    component.path = dir_.Sub(name);
    component.temp = dir_.Sub("." + name + ".tqrestore-abcdef");
    std::ofstream(component.temp) << name;
    component.size = name.size();
    return component;
  }

  void Expect(const std::vector<std::string>& names) {
    for (const std::string& name : names) generations_.Expect(kJob, kItems + name);
  }

  CRestoreGenerations::Outcome Arrive(const std::string& name, std::vector<SHeldComponent>& ready) {
    return generations_.Arrive(kJob, kOwner, Written(name), ready);
  }

  std::vector<CEventJournal::Entry> LeftOutEvents() const {
    return CEventJournal::Instance().Find(CRestoreGenerations::kEvSSTableLeftOut);
  }

  CRestoreGenerations& generations_ = CRestoreGenerations::Instance();
  TempDir dir_;
};

TEST(GenerationNames, AnSSTableComponentIsKnownByItsFolderAndTheNameUpToItsComponent) {
  struct Case {
    const char* path;
    bool sstable;
    const char* folder;
    const char* prefix;
  };
  for (const Case& c : {
           Case{"/c/dc/n/ks/t/nb-3-big-Data.db", true, "/c/dc/n/ks/t", "nb-3-big-"},
           Case{"/c/dc/n/ks/t/nb-3-big-CompressionInfo.db", true, "/c/dc/n/ks/t", "nb-3-big-"},
           Case{"/c/dc/n/ks/t/ks-t-ka-12-TOC.txt", true, "/c/dc/n/ks/t", "ks-t-ka-12-"},
           Case{"/c/dc/n/ks/t/manifest.json", false, "", ""},
           Case{"/c/dc/n/ks/t/.nb-3-big-Data.db.tqrestore-abcdef", false, "", ""},
           Case{"/c/dc/n/ks/t/nb-x-big-Data.db", false, "", ""},
       }) {
    std::string folder, prefix;
    EXPECT_EQ(CRestoreGenerations::GenerationOf(c.path, folder, prefix), c.sstable) << c.path;
    if (!c.sstable) continue;
    EXPECT_EQ(folder, c.folder) << c.path;
    EXPECT_EQ(prefix, c.prefix) << c.path;
  }
}

// Components of one generation brought by different tasks: nothing is handed
// over before the last, then all of them, Data.db last.
TEST_F(Generations, AGenerationSplitOverTasksIsHandedOverWholeOnceTheLastComponentArrives) {
  Expect({"nb-3-big-Data.db", "nb-3-big-Index.db", "nb-3-big-TOC.txt"});
  generations_.Attach(kJob, kOwner);
  generations_.Attach(kJob, kOwner);
  std::vector<SHeldComponent> ready;
  EXPECT_EQ(Arrive("nb-3-big-Data.db", ready), CRestoreGenerations::kHeld);
  EXPECT_TRUE(ready.empty());
  // One stream of the node ends: the other may still bring the rest.
  generations_.Detach(kJob, kOwner);
  EXPECT_EQ(Arrive("nb-3-big-TOC.txt", ready), CRestoreGenerations::kHeld);
  EXPECT_EQ(Arrive("nb-3-big-Index.db", ready), CRestoreGenerations::kPlaceNow);
  ASSERT_EQ(ready.size(), 3u);
  EXPECT_EQ(ready.back().path, dir_.Sub("nb-3-big-Data.db"));
  for (const SHeldComponent& component : ready) EXPECT_TRUE(Exists(component.temp));
  generations_.Detach(kJob, kOwner);
  EXPECT_EQ(generations_.LeftOut(kJob), 0);
  EXPECT_TRUE(LeftOutEvents().empty());
  // A file that is no component of an expected generation goes alone.
  EXPECT_EQ(Arrive("nb-9-big-Data.db", ready), CRestoreGenerations::kUngrouped);
}

// A component that failed (its stored content does not match its checksum)
// keeps its whole generation out; the other generation is handed over.
TEST_F(Generations, AFailedComponentLeavesItsGenerationOutWholeAndNamesIt) {
  Expect({"nb-3-big-Data.db", "nb-3-big-Index.db", "nb-4-big-Data.db", "nb-4-big-Index.db"});
  generations_.Attach(kJob, kOwner);
  std::vector<SHeldComponent> ready;
  EXPECT_EQ(Arrive("nb-3-big-Index.db", ready), CRestoreGenerations::kHeld);
  generations_.Fail(kJob, kOwner, kItems + "nb-3-big-Data.db", dir_.Sub("nb-3-big-Data.db"),
                    "Stored content does not match its checksum");
  EXPECT_EQ(Arrive("nb-4-big-Data.db", ready), CRestoreGenerations::kHeld);
  EXPECT_EQ(Arrive("nb-4-big-Index.db", ready), CRestoreGenerations::kPlaceNow);
  EXPECT_EQ(ready.size(), 2u);

  generations_.Detach(kJob, kOwner);
  EXPECT_FALSE(Exists(dir_.Sub(".nb-3-big-Index.db.tqrestore-abcdef")));
  EXPECT_FALSE(Exists(dir_.Sub("nb-3-big-Index.db")));
  EXPECT_EQ(generations_.LeftOut(kJob), 1);
  const std::vector<CEventJournal::Entry> events = LeftOutEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].severity, CEventJournal::kMajor);
  EXPECT_EQ(events[0].args, (std::vector<std::string>{
                                dir_.path(), "nb-3-big",
                                "nb-3-big-Data.db: Stored content does not match its checksum"}));
  // A component of it that comes later is dropped too.
  EXPECT_EQ(Arrive("nb-3-big-Data.db", ready), CRestoreGenerations::kLeftOut);
  EXPECT_FALSE(Exists(dir_.Sub(".nb-3-big-Data.db.tqrestore-abcdef")));
}

// A task that failed on one stream and runs again on another brings the
// failed component intact: the generation is whole after all.
TEST_F(Generations, ARetryThatBringsTheFailedComponentCompletesTheGeneration) {
  Expect({"nb-3-big-Data.db", "nb-3-big-Index.db"});
  generations_.Attach(kJob, kOwner);
  std::vector<SHeldComponent> ready;
  EXPECT_EQ(Arrive("nb-3-big-Index.db", ready), CRestoreGenerations::kHeld);
  generations_.Fail(kJob, kOwner, kItems + "nb-3-big-Data.db", "", "Injected disk failure");
  EXPECT_EQ(Arrive("nb-3-big-Data.db", ready), CRestoreGenerations::kPlaceNow);
  EXPECT_EQ(ready.size(), 2u);
  generations_.Detach(kJob, kOwner);
  EXPECT_EQ(generations_.LeftOut(kJob), 0);
}

// When the node's last stream ends, a generation still missing a component
// never gets it: it is left out and the missing component named.
TEST_F(Generations, AGenerationStillIncompleteWhenTheNodesStreamsEndIsLeftOut) {
  Expect({"nb-5-big-Data.db", "nb-5-big-Index.db", "nb-5-big-TOC.txt"});
  generations_.Attach(kJob, kOwner);
  generations_.Attach(kJob, "/results/node2");
  std::vector<SHeldComponent> ready;
  EXPECT_EQ(Arrive("nb-5-big-Data.db", ready), CRestoreGenerations::kHeld);
  EXPECT_EQ(Arrive("nb-5-big-TOC.txt", ready), CRestoreGenerations::kHeld);
  // Another node's streams ending changes nothing for this node.
  generations_.Detach(kJob, "/results/node2");
  EXPECT_TRUE(Exists(dir_.Sub(".nb-5-big-Data.db.tqrestore-abcdef")));
  EXPECT_TRUE(LeftOutEvents().empty());

  generations_.Detach(kJob, kOwner);
  EXPECT_FALSE(Exists(dir_.Sub(".nb-5-big-Data.db.tqrestore-abcdef")));
  EXPECT_FALSE(Exists(dir_.Sub(".nb-5-big-TOC.txt.tqrestore-abcdef")));
  const std::vector<CEventJournal::Entry> events = LeftOutEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].args, (std::vector<std::string>{dir_.path(), "nb-5-big",
                                                      "no copy of nb-5-big-Index.db arrived"}));
  EXPECT_EQ(generations_.LeftOut(kJob), 1);
}

// A component of a name no SSTable format of today uses is waited for like
// any other, and named when it never comes; the missing ones are named in
// the order of their names.
TEST_F(Generations, AnUnusualComponentIsWaitedForAndNamedInOrder) {
  Expect({"nb-6-big-Data.db", "nb-6-big-Vector.db", "nb-6-big-Index.db", "nb-6-big-Extra.db"});
  generations_.Attach(kJob, kOwner);
  std::vector<SHeldComponent> ready;
  EXPECT_EQ(Arrive("nb-6-big-Data.db", ready), CRestoreGenerations::kHeld);
  EXPECT_EQ(Arrive("nb-6-big-Extra.db", ready), CRestoreGenerations::kHeld);
  generations_.Detach(kJob, kOwner);
  const std::vector<CEventJournal::Entry> events = LeftOutEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].args,
            (std::vector<std::string>{dir_.path(), "nb-6-big",
                                      "no copy of nb-6-big-Index.db, nb-6-big-Vector.db arrived"}));
}

// A generation handed over whole whose placement then failed is left out:
// a copy of one of its components that comes later is dropped, not placed
// alone.
TEST_F(Generations, AComponentOfAGenerationWhosePlacementFailedIsDropped) {
  Expect({"nb-7-big-Data.db", "nb-7-big-Index.db"});
  generations_.Attach(kJob, kOwner);
  std::vector<SHeldComponent> ready;
  EXPECT_EQ(Arrive("nb-7-big-Index.db", ready), CRestoreGenerations::kHeld);
  EXPECT_EQ(Arrive("nb-7-big-Data.db", ready), CRestoreGenerations::kPlaceNow);
  ASSERT_EQ(ready.size(), 2u);
  generations_.PlacementFailed(kJob, ready.back(), "No space left on device");
  EXPECT_EQ(generations_.LeftOut(kJob), 1);
  EXPECT_EQ(Arrive("nb-7-big-Index.db", ready), CRestoreGenerations::kLeftOut);
  EXPECT_FALSE(Exists(dir_.Sub(".nb-7-big-Index.db.tqrestore-abcdef")));
  // One placed whole stays placed: a repeat of its component goes alone.
  Expect({"nb-8-big-Data.db"});
  EXPECT_EQ(Arrive("nb-8-big-Data.db", ready), CRestoreGenerations::kPlaceNow);
  Expect({"nb-8-big-Data.db"});
  EXPECT_EQ(Arrive("nb-8-big-Data.db", ready), CRestoreGenerations::kUngrouped);
}

}  // namespace
