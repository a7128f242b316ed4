// Materialized views held back from a table statement into the job's
// deferred schema file, and run at completion.

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "RestorePrepareFixture.h"
#include "platform/base/FXErrorUtil.h"

namespace {

using restoreprep::kEvSchemaCreateFailed;
using restoreprep::PrepareTest;

const char* const kTable = "CREATE TABLE ks.t (id int PRIMARY KEY) WITH comment = 'x; y'";
const char* const kView1 =
    " CREATE MATERIALIZED VIEW ks.v1 AS SELECT * FROM ks.t WHERE id IS NOT NULL PRIMARY KEY (id)";
const char* const kView2 =
    " CREATE MATERIALIZED VIEW ks.v2 AS SELECT * FROM ks.t WHERE id IS NOT NULL PRIMARY KEY (id)";

class DeferredViewsTest : public PrepareTest {
 protected:
  std::string File() { return JobFile("DeferredCqlSchemas_"); }
};

TEST_F(DeferredViewsTest, ViewsGoToTheFileAndTheRestStaysInTheStatement) {
  struct Case {
    const char* name;
    std::string statement;
    std::string remaining;
    std::string file;
  } cases[] = {
      {"a table with two views", std::string(kTable) + ";" + kView1 + ";" + kView2 + ";",
       std::string(kTable) + ";;", std::string(kView1) + "\n" + kView2 + "\n"},
      {"no view: the file is still created", std::string(kTable) + "; CREATE INDEX i ON ks.t (id);",
       std::string(kTable) + ";; CREATE INDEX i ON ks.t (id);;", ""},
      {"only a view", std::string(kView1) + ";", "", std::string(kView1) + "\n"},
      {"a view in lower case is not deferred", "create materialized view ks.v AS SELECT 1;",
       "create materialized view ks.v AS SELECT 1;;", ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    std::filesystem::remove(File());
    restoreprep::PrepareProbe& c = Coordinator(false);
    std::string statement = k.statement;
    CQiError e = c.ignoreMaterializedViews(statement);
    ASSERT_FALSE(e.IsError()) << e.AsString(2);
    EXPECT_EQ(statement, k.remaining);
    EXPECT_EQ(c.deferredSchemaFile, File());
    ASSERT_TRUE(std::filesystem::exists(File()));
    EXPECT_EQ(simtest::ReadFile(File()), k.file);
  }
}

TEST_F(DeferredViewsTest, TablesAccumulateInOrderAndARerunAddsNoViewTwice) {
  restoreprep::PrepareProbe& c = Coordinator(false);
  std::string first = std::string(kTable) + ";" + kView1 + ";";
  std::string second = std::string("CREATE TABLE ks.u (id int PRIMARY KEY);") + kView2 + ";";
  ASSERT_FALSE(c.ignoreMaterializedViews(first).IsError());
  ASSERT_FALSE(c.ignoreMaterializedViews(second).IsError());
  const std::string both = std::string(kView1) + "\n" + kView2 + "\n";
  EXPECT_EQ(simtest::ReadFile(File()), both);

  // The same job run again defers the same views.
  restoreprep::PrepareProbe& rerun = Coordinator(false);
  first = std::string(kTable) + ";" + kView1 + ";";
  ASSERT_FALSE(rerun.ignoreMaterializedViews(first).IsError());
  EXPECT_EQ(simtest::ReadFile(File()), both);
}

TEST_F(DeferredViewsTest, AFileThatCannotBeCreatedIsAnError) {
  restoreprep::PrepareProbe& c = Coordinator(false);
  std::filesystem::create_directories(File());
  std::string statement = std::string(kTable) + ";" + kView1 + ";";
  CQiError e = c.ignoreMaterializedViews(statement);
  ASSERT_TRUE(e.IsError());
  EXPECT_EQ(e.GetFacility(), CQiError::kErrNo);
  EXPECT_EQ(e.GetMessage(), "Failed to create file to store deferred schemas " + File());
}

TEST_F(DeferredViewsTest, CompletionSendsEveryLineAndRemovesTheFile) {
  restoreprep::PrepareProbe& c = Coordinator();
  std::string statement = std::string(kTable) + ";" + kView1 + ";" + kView2 + ";";
  ASSERT_FALSE(c.ignoreMaterializedViews(statement).IsError());
  Scripted().SetReply("ExecuteCQL", "Success");
  std::vector<std::string> failed;
  ASSERT_FALSE(c.createDeferredSchemas(&failed).IsError());
  const std::string escaped1 = nlohmann::json(std::string(kView1) + ";").dump();
  const std::string escaped2 = nlohmann::json(std::string(kView2) + ";").dump();
  EXPECT_EQ(CqlBodies(), (std::vector<std::string>{"{\"Schema\":" + escaped1 + "}",
                                                   "{\"Schema\":" + escaped2 + "}"}));
  EXPECT_TRUE(failed.empty());
  EXPECT_FALSE(std::filesystem::exists(File()));
  EXPECT_TRUE(SchemaFailures(CEventJournal::kEvent).empty());
}

TEST_F(DeferredViewsTest, AFailingLineRaisesItsEventAndTheNextIsStillSent) {
  restoreprep::PrepareProbe& c = Coordinator();
  std::string statement = std::string(kTable) + ";" + kView1 + ";" + kView2 + ";";
  ASSERT_FALSE(c.ignoreMaterializedViews(statement).IsError());
  const CQiError failure = FXErrorUtil::ErrorWin32(FXLOC, 1627, "CQL failed");
  Scripted().SetError("ExecuteCQL", failure, "view exists");
  std::vector<std::string> failed;
  ASSERT_FALSE(c.createDeferredSchemas(&failed).IsError());
  EXPECT_EQ(CqlBodies().size(), 2u);
  EXPECT_EQ(failed, (std::vector<std::string>{kView1, kView2}));
  const auto events = SchemaFailures(CEventJournal::kEvent);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0],
            (std::vector<std::string>{"schema", kView1, failure.AsString(2) + ": view exists"}));
  EXPECT_EQ(CEventJournal::Instance().Find(kEvSchemaCreateFailed).front().severity,
            CEventJournal::kMajor);
  EXPECT_FALSE(std::filesystem::exists(File()));
}

TEST_F(DeferredViewsTest, CompletionWithoutDeferralSendsNothing) {
  restoreprep::PrepareProbe& c = Coordinator();
  Scripted().SetReply("ExecuteCQL", "Success");
  CQiError e = c.createDeferredSchemas();
  ASSERT_TRUE(e.IsError());
  EXPECT_EQ(e.GetFacility(), CQiError::kErrNo);
  EXPECT_EQ(e.GetMessage(), "Failed to open file " + File() + " to read the deferred schemas");
  EXPECT_TRUE(CqlBodies().empty());
}

TEST_F(DeferredViewsTest, ARerunThatCreatesNoTableStillRunsTheEarlierRunsViews) {
  restoreprep::PrepareProbe& first = Coordinator(false);
  std::string statement = std::string(kTable) + ";" + kView1 + ";";
  ASSERT_FALSE(first.ignoreMaterializedViews(statement).IsError());

  restoreprep::PrepareProbe& rerun = Coordinator();
  Scripted().SetReply("ExecuteCQL", "Success");
  ASSERT_FALSE(rerun.createDeferredSchemas().IsError());
  EXPECT_EQ(CqlBodies().size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(File()));
}

}  // namespace
