// Where the data mover puts each restored item, read from the restore's
// extended options, and the SSTable names it can renumber.

#include <gtest/gtest.h>

#include <string>

#include "platform/base/ExtendedOptions.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/datamover/RestorePlacement.h"
#include "platform/datamover/SSTableName.h"

using TqDataMover::CRestorePlacement;
using TqDataMover::SItemTarget;
using TqDataMover::SSSTableName;

namespace {

// The encoded extended options of a staged restore with the staging list.
std::string StagedOptions(const std::string& stagingList = "node1:/stage/a##node2:/stage/b##") {
  CExtendedOptions options;
  options.setOption("CassandraStagedRestore", 1);
  options.setOption("CassandraStagedRestoreStagingLoc", stagingList);
  std::string text;
  options.getOptions(text);
  return text;
}

std::string InPlaceOptions() {
  CExtendedOptions options;
  options.setOption("CassandraRestore", 1);
  options.setOption("CassandraRestoreDataDirectory", "node1:/data/n1##node2:/data/n2##");
  options.setOption("CassandraMeta",
                    "~KEYSPACE~ks1~BEGIN~~TABLEMETA~t1~TABLEID~0b1c-22d3~TABLEMETA~t2~TABLEID~"
                    "ffee~KEYSPACE~empty~BEGIN~");
  std::string text;
  options.getOptions(text);
  return text;
}

struct PlacementCase {
  const char* name;
  int mode;  // 0 file system, 1 in place, 2 staged
  const char* destination;
  const char* header;
  const char* source;
  bool directory;
  SItemTarget::Kind kind;
  const char* path;  // null when refused
  bool tableFile;
};

class Placement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(Placement, ItemGoesWhereItsOptionsSay) {
  const PlacementCase& c = GetParam();
  const std::string options = c.mode == 1 ? InPlaceOptions() : c.mode == 2 ? StagedOptions() : "";
  CRestorePlacement placement;
  ASSERT_FALSE(CRestorePlacement::FromOptions(options, c.destination, placement).IsError());
  SItemTarget target;
  CQiError error = placement.TargetOf(c.header, c.source, c.directory, target);
  if (c.path == nullptr) {
    ASSERT_TRUE(error.IsError()) << target.path;
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87)) << error.AsString();
    return;
  }
  ASSERT_FALSE(error.IsError()) << error.AsString();
  EXPECT_EQ(target.kind, c.kind);
  EXPECT_EQ(target.path, c.path);
  EXPECT_EQ(target.tableFile, c.tableFile);
}

const char* const kData = "/c1/dc1/node1/ks1/t1/nb-4-big-Data.db";

INSTANTIATE_TEST_SUITE_P(
    Cases, Placement,
    ::testing::Values(
        // In place: the table folder carries the id from CassandraMeta without dashes.
        PlacementCase{"InPlaceFile", 1, "", kData, "/x", false, SItemTarget::kFile,
                      "/data/n1/ks1/t1-0b1c22d3/nb-4-big-Data.db", true},
        PlacementCase{"InPlaceSecondNode", 1, "", "/c1/dc1/node2/ks1/t2/mc-1-big-Index.db", "/x",
                      false, SItemTarget::kFile, "/data/n2/ks1/t2-ffee/mc-1-big-Index.db", true},
        PlacementCase{"InPlaceTableFolder", 1, "", "/c1/dc1/node1/ks1/t1", "/x", true,
                      SItemTarget::kDirectory, "/data/n1/ks1/t1-0b1c22d3", false},
        PlacementCase{"InPlaceKeyspaceFolder", 1, "", "/c1/dc1/node1/empty", "/x", true,
                      SItemTarget::kDirectory, "/data/n1/empty", false},
        PlacementCase{"InPlaceNodeLevelPlacesNothing", 1, "", "/c1/dc1/node1", "/x", true,
                      SItemTarget::kNothing, "", false},
        PlacementCase{"InPlaceUnknownNode", 1, "", "/c1/dc1/node3/ks1/t1/nb-1-big-Data.db", "/x",
                      false, SItemTarget::kFile, nullptr, false},
        PlacementCase{"InPlaceUnknownKeyspace", 1, "", "/c1/dc1/node1/ks9/t1/nb-1-big-Data.db",
                      "/x", false, SItemTarget::kFile, nullptr, false},
        PlacementCase{"InPlaceUnknownTable", 1, "", "/c1/dc1/node1/ks1/t9/nb-1-big-Data.db", "/x",
                      false, SItemTarget::kFile, nullptr, false},
        PlacementCase{"InPlaceCommitLogRefused", 1, "",
                      "/c1/dc1/node1/#COMMITLOG#/CommitLog-7-1.log", "/x", false,
                      SItemTarget::kFile, nullptr, false},
        PlacementCase{"InPlaceDotDotRefused", 1, "", "/c1/dc1/node1/ks1/t1/..", "/x", false,
                      SItemTarget::kFile, nullptr, false},
        PlacementCase{"InPlaceTooDeepRefused", 1, "", "/c1/dc1/node1/ks1/t1/a/b", "/x", false,
                      SItemTarget::kFile, nullptr, false},
        PlacementCase{"InPlaceEmptyComponentRefused", 1, "", "/c1/dc1/node1//t1/f", "/x", false,
                      SItemTarget::kFile, nullptr, false},
        // Staged: keyspace and table by name, commit logs in their own folder.
        PlacementCase{"StagedFile", 2, "", kData, "/x", false, SItemTarget::kFile,
                      "/stage/a/node1/ks1/t1/nb-4-big-Data.db", true},
        PlacementCase{"StagedAnyKeyspace", 2, "", "/c1/dc1/node2/other/tab/f.db", "/x", false,
                      SItemTarget::kFile, "/stage/b/node2/other/tab/f.db", true},
        PlacementCase{"StagedCommitLog", 2, "", "/c1/dc1/node1/#COMMITLOG#/CommitLog-7-1.log", "/x",
                      false, SItemTarget::kFile, "/stage/a/node1/#COMMITLOG#/CommitLog-7-1.log",
                      false},
        PlacementCase{"StagedCommitLogFolder", 2, "", "/c1/dc1/node1/#COMMITLOG#", "/x", true,
                      SItemTarget::kDirectory, "/stage/a/node1/#COMMITLOG#", false},
        PlacementCase{"StagedUnknownNode", 2, "", "/c1/dc1/node7/ks1/t1/f", "/x", false,
                      SItemTarget::kFile, nullptr, false},
        PlacementCase{"StagedLineBreakRefused", 2, "", "/c1/dc1/node1/ks1/t1/a\nb", "/x", false,
                      SItemTarget::kFile, nullptr, false},
        // File system: the source path, under the destination when one is named.
        PlacementCase{"FileSystemAtSource", 0, "", kData, "/var/lib/c/ks1/t1-1/nb-4-big-Data.db",
                      false, SItemTarget::kFile, "/var/lib/c/ks1/t1-1/nb-4-big-Data.db", false},
        PlacementCase{"FileSystemUnderDestination", 0, "/restore/here", kData,
                      "/var/lib/c/ks1/t1-1/nb-4-big-Data.db", false, SItemTarget::kFile,
                      "/restore/here/var/lib/c/ks1/t1-1/nb-4-big-Data.db", false},
        PlacementCase{"FileSystemFolder", 0, "/restore", "/c1/dc1/node1", "/var/lib/c/", true,
                      SItemTarget::kDirectory, "/restore/var/lib/c", false},
        PlacementCase{"FileSystemDotDotRefused", 0, "/restore", kData, "/var/../../etc/passwd",
                      false, SItemTarget::kFile, nullptr, false},
        PlacementCase{"FileSystemRelativeRefused", 0, "/restore", kData, "var/x", false,
                      SItemTarget::kFile, nullptr, false}),
    [](const ::testing::TestParamInfo<PlacementCase>& info) { return info.param.name; });

TEST(PlacementOptions, NodePathListAndTableMetaRead) {
  std::map<std::string, std::string> paths;
  ASSERT_FALSE(CRestorePlacement::ParseNodePathList("A:/d1##B:/d:2##", paths).IsError());
  EXPECT_EQ(paths, (std::map<std::string, std::string>{{"A", "/d1"}, {"B", "/d:2"}}));
  EXPECT_TRUE(CRestorePlacement::ParseNodePathList("A/d1##", paths).IsError());

  std::map<std::string, std::map<std::string, std::string>> meta;
  ASSERT_FALSE(CRestorePlacement::ParseTableMeta(
                   "~KEYSPACE~ks~BEGIN~~TABLEMETA~t~TABLEID~i1~TABLEMETA~u~TABLEID~i2", meta)
                   .IsError());
  EXPECT_EQ(meta["ks"], (std::map<std::string, std::string>{{"t", "i1"}, {"u", "i2"}}));
  EXPECT_TRUE(CRestorePlacement::ParseTableMeta("~KEYSPACE~ks", meta).IsError());
  EXPECT_TRUE(CRestorePlacement::ParseTableMeta("garbage", meta).IsError());

  // A folder that is not absolute cannot anchor a restore.
  CRestorePlacement placement;
  EXPECT_TRUE(
      CRestorePlacement::FromOptions(StagedOptions("node1:relative##"), "", placement).IsError());
}

TEST(SSTableNames, GenerationIsFoundInBothLayouts) {
  struct Case {
    const char* name;
    bool sstable;
    int64_t generation;
    const char* renamed;  // with generation 42
  } cases[] = {
      {"nb-7-big-Data.db", true, 7, "nb-42-big-Data.db"},
      {"mc-12-big-CompressionInfo.db", true, 12, "mc-42-big-CompressionInfo.db"},
      {"ks-tab-ka-3-Index.db", true, 3, "ks-tab-ka-42-Index.db"},
      {"manifest.json", false, 0, ""},
      {"nb-3gvo_0ozm-bti-Data.db", false, 0, ""},
      {"nb-7-big-", false, 0, ""},
      {"NB-7-big-Data.db", false, 0, ""},
  };
  for (const Case& c : cases) {
    SSSTableName parsed;
    ASSERT_EQ(SSSTableName::Parse(c.name, parsed), c.sstable) << c.name;
    if (!c.sstable) continue;
    EXPECT_EQ(parsed.generation, c.generation) << c.name;
    EXPECT_EQ(parsed.WithGeneration(42), c.renamed) << c.name;
  }
}

}  // namespace
