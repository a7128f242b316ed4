// Tokens and the run state of a target node's Cassandra, through the target's
// Priam: the source node's tokens handed over, Cassandra stopped and started,
// and the data directories cleared.

#include <nlohmann/json.hpp>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/QiDirectory.h"
#include "platform/base/QiPath.h"
#include "platform/base/QiSleep.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "restore/CassandraRestoresController.h"

namespace TQCassandra {

namespace {

// Sends a bodiless request to the target's Priam and pauses `seconds`
// whether or not it succeeded.
CQiError RequestAndPause(TqCassandra::PriamUtil* priam, const char* resource, uint64_t seconds) {
  CQiError e;
  if (!priam) {
    e = FXErrorUtil::ErrorWin32(FXLOC, 87, "No Priam for the target node");
  } else {
    CQiString reply;
    e = priam->get(0, CQiString(resource), reply, CQiString(""));
  }
  QISLEEP(static_cast<uint32_t>(seconds * 1000));
  return e;
}

}  // namespace

CQiError CCassandraRestoreController::CompareAndReplaceTokens(const std::string& targetKey,
                                                              const std::string& configDirectory,
                                                              const std::string& tokens) {
  TQ_DEBUG_FUNCTION();
  auto found = priamByTarget.find(targetKey);
  if (found == priamByTarget.end() || !found->second) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "No Priam for target %s", targetKey.c_str());
  }
  // Built by the JSON library, so that a path or token list holding a quote
  // or a backslash arrives as it is.
  nlohmann::ordered_json body;
  body["ConfPath"] = configDirectory;
  body["Tokens"] = tokens;
  body["Replace"] = "0";
  std::string text;
  try {
    text = body.dump();
  } catch (const nlohmann::json::exception& invalid) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "The token request cannot be written: %s",
                                   invalid.what());
  }
  CQiString reply;
  CQiError e = found->second->get(1, CQiString("ReplaceTokens"), reply, CQiString(text.c_str()));
  if (e.IsError()) {
    TQLOG(-1, "ReplaceTokens failed for %s: %s", targetKey.c_str(), e.AsString(2).c_str());
    return e.Push(FXLOC);
  }
  if (reply.str().find("NotRequired") != std::string::npos) {
    TQLOG(1, "The tokens of %s need no change", targetKey.c_str());
    return CQiError::Success();
  }
  // Whatever happens from here on, the node is started again: by the
  // bring-up, by the end of a restore that stops or fails, or, after a
  // process killed outright, from the record.
  e = recordStopped(targetKey, configDirectory);
  if (e.IsError()) return e.Push(FXLOC);
  e = StopCassandra(targetKey);
  if (e.IsError()) return e.Push(FXLOC);
  e = CleanUpDataDir(targetKey);
  if (e.IsError()) return e.Push(FXLOC);
  return CQiError::Success();
}

CQiError CCassandraRestoreController::StopCassandra(const std::string& targetKey) {
  TQ_DEBUG_FUNCTION();
  auto found = priamByTarget.find(targetKey);
  CQiError e = RequestAndPause(found == priamByTarget.end() ? nullptr : found->second.get(), "stop",
                               cassandraSleepTime);
  if (e.IsError()) return e.Push(FXLOC);
  return CQiError::Success();
}

CQiError CCassandraRestoreController::StartCassandra(const std::string& targetKey) {
  TQ_DEBUG_FUNCTION();
  auto found = priamByTarget.find(targetKey);
  ++startsAsked;
  CQiError e = RequestAndPause(found == priamByTarget.end() ? nullptr : found->second.get(),
                               "start", cassandraSleepTime);
  if (e.IsError()) return e.Push(FXLOC);
  forgetStopped(targetKey);
  return CQiError::Success();
}

CQiError CCassandraRestoreController::CleanUpDataDir(const std::string& targetKey) {
  TQ_DEBUG_FUNCTION();
  auto found = dataDirsByTarget.find(targetKey);
  if (found == dataDirsByTarget.end()) return CQiError::Success();
  for (const std::string& directory : found->second) {
    const CQiString path = CQiPath::Append(directory.c_str(), "");
    TQLOG(1, "Removing data directory %s", path.c_str());
    CQiError e = CQiDirectory::Remove(path.c_str(), true, false);
    if (e.IsError()) return e.Push(FXLOC);
  }
  return CQiError::Success();
}

}  // namespace TQCassandra
