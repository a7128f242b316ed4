#include "platform/runner/JobRecordStore.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <type_traits>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/QiFile.h"
#include "platform/json/JsonNumbers.h"
#include "platform/suite/ClientContext.h"

namespace TqRunner {

namespace {

using nlohmann::json;
using TqJson::IntegerAt;

json EntryToJson(const CEventJournal::Entry& entry) {
  return json{{"id", entry.id},
              {"severity", CEventJournal::SeverityName(entry.severity)},
              {"severityValue", static_cast<int>(entry.severity)},
              {"args", entry.args},
              {"client", entry.client},
              {"time", entry.time}};
}

CEventJournal::Entry EntryFromJson(const json& j, CEventJournal::Kind kind) {
  CEventJournal::Entry entry{};
  entry.kind = kind;
  entry.id = IntegerAt<uint32_t>(j, "id");
  const int severity = IntegerAt<int>(j, "severityValue");
  if (severity < CEventJournal::kInfo || severity > CEventJournal::kCritical) {
    throw std::out_of_range("\"severityValue\" is " + std::to_string(severity) +
                            ", not a severity from 0 to 3");
  }
  entry.severity = static_cast<CEventJournal::Severity>(severity);
  entry.args = j.at("args").get<std::vector<std::string>>();
  entry.client = j.at("client").get<std::string>();
  entry.time = IntegerAt<int64_t>(j, "time");
  return entry;
}

json ToJson(const JobResult& r) {
  json phases = json::array();
  for (const PhaseResult& p : r.phases) {
    json nodes = json::array();
    for (const NodeRecord& n : p.nodes) {
      nodes.push_back({{"clientName", n.clientName},
                       {"clientId", n.clientId},
                       {"state", n.state},
                       {"startFailed", n.startFailed},
                       {"aborted", n.aborted},
                       {"arguments", n.arguments},
                       {"streams", n.streams},
                       {"failure", n.failure}});
    }
    json tasks = json::array();
    for (const TaskRecord& t : p.tasks) {
      tasks.push_back({{"taskId", t.taskId},
                       {"status", t.status},
                       {"reservedNode", t.reservedNode},
                       {"runningNode", t.runningNode},
                       {"streamId", t.streamId},
                       {"attempts", t.attempts},
                       {"failedStreams", t.failedStreams},
                       {"commitOffset", t.commitOffset}});
    }
    phases.push_back({{"name", p.name},
                      {"skipped", p.skipped},
                      {"status", p.status},
                      {"statusName", PhaseStatusName(p.status)},
                      {"statusWord", p.statusWord},
                      {"completionCode", p.completionCode},
                      {"endReason", p.endReason},
                      {"message", p.message},
                      {"startTime", p.startTime},
                      {"endTime", p.endTime},
                      {"nodes", nodes},
                      {"tasks", tasks}});
  }
  json events = json::array();
  for (const auto& e : r.events) events.push_back(EntryToJson(e));
  json causes = json::array();
  for (const auto& e : r.pendingCauses) causes.push_back(EntryToJson(e));
  return json{{"jobId", r.jobId},
              {"jobType", r.jobType},
              {"status", r.status},
              {"statusName", PhaseStatusName(r.status)},
              {"error", r.error},
              {"attempt", r.attempt},
              {"startTime", r.startTime},
              {"endTime", r.endTime},
              {"referenceTime", r.referenceTime},
              {"phaseParams", r.phaseParams},
              {"restartString", r.restartString},
              {"phases", phases},
              {"events", events},
              {"pendingCauses", causes}};
}

JobResult FromJson(const json& j) {
  JobResult r;
  r.jobId = IntegerAt<int64_t>(j, "jobId");
  r.jobType = j.at("jobType").get<std::string>();
  r.status = IntegerAt<int>(j, "status");
  r.error = j.at("error").get<std::string>();
  r.attempt = IntegerAt<int>(j, "attempt");
  r.startTime = IntegerAt<int64_t>(j, "startTime");
  r.endTime = IntegerAt<int64_t>(j, "endTime");
  r.referenceTime = IntegerAt<int64_t>(j, "referenceTime");
  r.phaseParams = j.at("phaseParams").get<std::string>();
  r.restartString = j.at("restartString").get<std::string>();
  for (const json& pj : j.at("phases")) {
    PhaseResult p;
    p.name = pj.at("name").get<std::string>();
    p.skipped = pj.at("skipped").get<bool>();
    p.status = IntegerAt<int>(pj, "status");
    p.statusWord = IntegerAt<int>(pj, "statusWord");
    p.completionCode = IntegerAt<int>(pj, "completionCode");
    p.endReason = pj.at("endReason").get<std::string>();
    p.message = pj.at("message").get<std::string>();
    p.startTime = IntegerAt<int64_t>(pj, "startTime");
    p.endTime = IntegerAt<int64_t>(pj, "endTime");
    for (const json& nj : pj.at("nodes")) {
      NodeRecord n;
      n.clientName = nj.at("clientName").get<std::string>();
      n.clientId = IntegerAt<uint32_t>(nj, "clientId");
      n.state = IntegerAt<int>(nj, "state");
      n.startFailed = nj.at("startFailed").get<bool>();
      n.aborted = nj.at("aborted").get<bool>();
      n.arguments = nj.at("arguments").get<std::string>();
      n.streams = IntegerAt<int>(nj, "streams");
      n.failure = nj.at("failure").get<std::string>();
      p.nodes.push_back(n);
    }
    for (const json& tj : pj.at("tasks")) {
      TaskRecord t;
      t.taskId = IntegerAt<int>(tj, "taskId");
      t.status = IntegerAt<int>(tj, "status");
      t.reservedNode = tj.at("reservedNode").get<std::string>();
      t.runningNode = tj.at("runningNode").get<std::string>();
      t.streamId = IntegerAt<int>(tj, "streamId");
      t.attempts = IntegerAt<int>(tj, "attempts");
      t.failedStreams = IntegerAt<int>(tj, "failedStreams");
      t.commitOffset = IntegerAt<int64_t>(tj, "commitOffset");
      p.tasks.push_back(t);
    }
    r.phases.push_back(p);
  }
  for (const json& e : j.at("events")) r.events.push_back(EntryFromJson(e, CEventJournal::kEvent));
  for (const json& e : j.at("pendingCauses")) {
    r.pendingCauses.push_back(EntryFromJson(e, CEventJournal::kPendingCause));
  }
  return r;
}

json DescriptionToJson(const JobDescription& d) {
  return json{{"jobId", d.jobId},
              {"jobType", d.jobType},
              {"startTime", d.startTime},
              {"ombrelId", d.ombrelId},
              {"clientName", d.clientName},
              {"sourceInstanceId", d.sourceInstanceId},
              {"destInstanceId", d.destInstanceId},
              {"sourceAppType", d.sourceAppType},
              {"sourceClientId", d.sourceClientId},
              {"backupSetId", d.backupSetId},
              {"subclientId", d.subclientId},
              {"mediaAgentClientId", d.mediaAgentClientId},
              {"copyPrecedence", d.copyPrecedence},
              {"fromTime", d.fromTime},
              {"toTime", d.toTime},
              {"pathList1", d.pathList1},
              {"pathList2", d.pathList2},
              {"xmlOptions", d.xmlOptions}};
}

JobDescription DescriptionFromJson(const json& j) {
  JobDescription d;
  d.jobId = IntegerAt<int64_t>(j, "jobId");
  d.jobType = j.at("jobType").get<std::string>();
  d.startTime = IntegerAt<int64_t>(j, "startTime");
  d.ombrelId = IntegerAt<uint32_t>(j, "ombrelId");
  d.clientName = j.at("clientName").get<std::string>();
  d.sourceInstanceId = IntegerAt<uint64_t>(j, "sourceInstanceId");
  d.destInstanceId = IntegerAt<uint64_t>(j, "destInstanceId");
  d.sourceAppType = IntegerAt<int64_t>(j, "sourceAppType");
  d.sourceClientId = IntegerAt<uint64_t>(j, "sourceClientId");
  d.backupSetId = IntegerAt<uint64_t>(j, "backupSetId");
  d.subclientId = IntegerAt<int64_t>(j, "subclientId");
  d.mediaAgentClientId = IntegerAt<int32_t>(j, "mediaAgentClientId");
  d.copyPrecedence = IntegerAt<uint32_t>(j, "copyPrecedence");
  d.fromTime = IntegerAt<int64_t>(j, "fromTime");
  d.toTime = IntegerAt<int64_t>(j, "toTime");
  d.pathList1 = j.at("pathList1").get<std::vector<std::string>>();
  d.pathList2 = j.at("pathList2").get<std::vector<std::string>>();
  d.xmlOptions = j.at("xmlOptions").get<std::string>();
  return d;
}

// Replaces the file at `path` in the job records folder `directory` with
// `text` and a line end.
CQiError WriteJobFile(const std::string& directory, const std::string& path, std::string text) {
  std::error_code ec;
  std::filesystem::create_directories(directory, ec);
  if (ec) {
    return FXErrorUtil::ErrorErrNo(FXLOC, ec.value(), "Cannot create the job records folder %s",
                                   directory.c_str());
  }
  text += '\n';
  CQiError error = CQiFile::ReplaceWholeFile(path.c_str(), text);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

// Reads the job's file at `path` (`what`: "record" or "description") and
// hands its JSON to `parse`: error 2 when there is none, 13 when it does not
// parse.
CQiError ReadJobFile(const std::string& path, int64_t jobId, const char* what,
                     const std::function<void(const json&)>& parse) {
  std::string text;
  if (CQiFile::ReadWholeFile(path.c_str(), text).IsError()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 2, "Job %lld has no %s", static_cast<long long>(jobId),
                                   what);
  }
  try {
    parse(json::parse(text));
  } catch (const std::exception& e) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Job %s %s cannot be read: %s", what, path.c_str(),
                                   e.what());
  }
  return CQiError::Success();
}

}  // namespace

CJobRecordStore::CJobRecordStore(const std::string& directory)
    : directory_(directory.empty() ? CClientContext::SuiteHome() + "/Jobs" : directory) {}

std::string CJobRecordStore::PathOf(int64_t jobId) const {
  return directory_ + "/" + std::to_string(jobId) + ".json";
}

CQiError CJobRecordStore::Write(const JobResult& result) const {
  // Texts that are not UTF-8 (event arguments may carry any bytes) are kept
  // with the invalid bytes replaced.
  CQiError error = WriteJobFile(directory_, PathOf(result.jobId),
                                ToJson(result).dump(2, ' ', false, json::error_handler_t::replace));
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

std::string CJobRecordStore::DescriptionPathOf(int64_t jobId) const {
  return directory_ + "/" + std::to_string(jobId) + ".description.json";
}

CQiError CJobRecordStore::WriteDescription(const JobDescription& description) const {
  if (description.jobId <= 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "A job description needs a job id");
  }
  // The options are XML text and kept byte for byte: a text that is not
  // UTF-8 cannot be stored in JSON and is refused rather than altered.
  std::string text;
  try {
    text = DescriptionToJson(description).dump(2);
  } catch (const std::exception& e) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "The description of job %lld cannot be stored: %s",
                                   static_cast<long long>(description.jobId), e.what());
  }
  CQiError error = WriteJobFile(directory_, DescriptionPathOf(description.jobId), text);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CJobRecordStore::ReadDescription(int64_t jobId, JobDescription& description) const {
  const std::string path = DescriptionPathOf(jobId);
  JobDescription read;
  CQiError error = ReadJobFile(path, jobId, "description",
                               [&read](const json& j) { read = DescriptionFromJson(j); });
  if (error.IsError()) return error.Push(FXLOC);
  if (read.jobId != jobId) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Job description %s is of job %lld", path.c_str(),
                                   static_cast<long long>(read.jobId));
  }
  description = read;
  return CQiError::Success();
}

CQiError CJobRecordStore::Read(int64_t jobId, JobResult& result) const {
  CQiError error = ReadJobFile(PathOf(jobId), jobId, "record",
                               [&result](const json& j) { result = FromJson(j); });
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

std::vector<int64_t> CJobRecordStore::List() const {
  std::vector<int64_t> ids;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(directory_, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= 5 || name.compare(name.size() - 5, 5, ".json") != 0) continue;
    const std::string stem = name.substr(0, name.size() - 5);
    if (stem.empty() || stem.find_first_not_of("0123456789") != std::string::npos ||
        stem.size() > 18) {
      continue;
    }
    ids.push_back(std::stoll(stem));
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

}  // namespace TqRunner
