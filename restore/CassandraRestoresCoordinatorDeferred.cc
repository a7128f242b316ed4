// Materialized views of restored tables, held back until the data is in:
// the preparation moves them into "DeferredCqlSchemas_<job id>" and the
// phase's completion runs them.

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <set>

#include "common/CassandraCqlText.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/json/TqJsonWriter.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "restore/CassandraRestoresCoordinator.h"

namespace TQCassandra {

CQiError CCassandraRestores::ignoreMaterializedViews(std::string& statement) {
  TQLOG(2, "Backed up CQL statement: %s", statement.c_str());
  deferredSchemaFile = jobResultsFile("DeferredCqlSchemas_");

  const std::vector<std::string> parts = CassandraCqlText::SplitStatements(statement);
  statement.clear();
  std::vector<std::string> views;
  for (const std::string& part : parts) {
    if (part.empty()) continue;
    TQLOG(2, "Stmt: %s", part.c_str());
    if (part.find("MATERIALIZED VIEW") != std::string::npos) {
      // One statement a line: a line feed inside it would cut it in two.
      views.push_back(CassandraCqlText::FlattenLineFeeds(part));
    } else {
      statement += part + ";;";
    }
  }

  // A rerun of the job appends to the file of the earlier run: a view
  // already waiting there is not added a second time.
  std::set<std::string> waiting;
  {
    std::ifstream in(deferredSchemaFile);
    for (std::string line; std::getline(in, line);) waiting.insert(line);
  }
  FILE* file = fopen(deferredSchemaFile.c_str(), "a");
  if (!file) {
    return FXErrorUtil::ErrorErrNo(FXLOC, errno,
                                   "Failed to create file to store deferred schemas %s",
                                   deferredSchemaFile.c_str());
  }
  bool written = true;
  for (const std::string& view : views) {
    if (!waiting.insert(view).second) continue;
    written = written && fprintf(file, "%s\n", view.c_str()) >= 0;
  }
  const int error = errno;
  if (fclose(file) != 0 || !written) {
    return FXErrorUtil::ErrorErrNo(FXLOC, error ? error : EIO,
                                   "Failed to create file to store deferred schemas %s",
                                   deferredSchemaFile.c_str());
  }
  TQLOG(2, "New CQL statement: %s", statement.c_str());
  return CQiError::Success();
}

CQiError CCassandraRestores::createDeferredSchemas(std::vector<std::string>* failedLines) {
  TQ_DEBUG_FUNCTION();
  // A rerun that created no table this time still runs the views an earlier
  // run of the job held back.
  const std::string path =
      deferredSchemaFile.empty() ? jobResultsFile("DeferredCqlSchemas_") : deferredSchemaFile;
  std::ifstream in(path);
  if (path.empty() || !in.is_open()) {
    return FXErrorUtil::ErrorErrNo(FXLOC, errno ? errno : ENOENT,
                                   "Failed to open file %s to read the deferred schemas",
                                   path.c_str());
  }
  if (!priamUtil) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "The coordinator's Priam is not running");
  }
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    TQLOG(0, "Schema : %s", line.c_str());
    TqJson::ObjectWriter body;
    body.Add("Schema", line + ";");
    const std::string text = body.Text();
    TQLOG(0, " Query [%s] ", text.c_str());
    CQiString reply;
    CQiError e = priamUtil->get(1, CQiString("ExecuteCQL"), reply, CQiString(text.c_str()));
    if (e.IsError()) {
      TQLOG(-1, "Failed to recreate entity %s: %s.", line.c_str(), e.AsString(2).c_str());
      e = handlePriamError(e);
      EvEvent event;
      event << "schema" << line << (e.AsString(2) + ": " + reply.str());
      event.MajorEvent(kEvSchemaCreateFailed);
      if (failedLines) failedLines->push_back(line);
    }
  }
  in.close();
  if (remove(path.c_str()) != 0) {
    TQLOG(-1, "Failed to delete the deferred schemas file %s", path.c_str());
  }
  return CQiError::Success();
}

}  // namespace TQCassandra
