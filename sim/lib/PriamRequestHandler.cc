#include "sim/lib/PriamRequestHandler.h"

#include <signal.h>
#include <unistd.h>

#include "sim/lib/SimBackupRequests.h"
#include "sim/lib/SimClusterFile.h"
#include "sim/lib/SimFiles.h"
#include "sim/lib/SimNodeConfig.h"
#include "sim/lib/SimRestoreRequests.h"

namespace TqSim {

namespace {

bool Matches(const SimFault& f, const std::string& when, const std::string& request,
             const std::string& address) {
  return f.when == when && (f.request.empty() || f.request == request) &&
         (f.node.empty() || f.node == address);
}

// Requests that Priam answers without the node's Cassandra running.
bool WorksWhileStopped(const std::string& name) {
  return name == "start" || name == "stop" || name == "ReplaceTokens" || name == "replaceDeadNode";
}

}  // namespace

bool PriamRequestHandler::FromConfDir(const std::string& confDir, std::string& clusterFile,
                                      std::string& address, std::string& error) {
  return SimNodeConfig(confDir).ReadPointer(clusterFile, address, error);
}

bool PriamRequestHandler::ReadProperties(const std::string& path,
                                         std::map<std::string, std::string>& out,
                                         std::string& error) {
  out.clear();
  std::string text;
  if (!ReadTextFile(path, text, error)) return false;
  auto unescape = [](const std::string& s) {
    std::string r;
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] != '\\' || i + 1 == s.size()) {
        r += s[i];
        continue;
      }
      char next = s[++i];
      r += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next == 'f' ? '\f' : next;
    }
    return r;
  };
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty() || line[0] == '#') continue;
    // The first "=" not escaped ends the key.
    size_t eq = 0;
    while (eq < line.size() && line[eq] != '=') eq += line[eq] == '\\' ? 2 : 1;
    if (eq >= line.size()) continue;
    out[unescape(line.substr(0, eq))] = unescape(line.substr(eq + 1));
  }
  return true;
}

int PriamRequestHandler::CheckStart(std::string& message) const {
  SimClusterFile file(clusterFile_);
  SimCluster cluster;
  std::string error;
  {
    SimClusterFile::Lock lock(file);
    if (!file.Load(cluster, error)) {
      message = error;
      return 1;
    }
  }
  if (!cluster.FindNode(address_)) {
    message = "Node " + address_ + " is not part of cluster " + cluster.name;
    return 1;
  }
  for (const auto& f : cluster.faults) {
    if (!Matches(f, "start", "", address_)) continue;
    if (f.action == "access_denied") {
      message = f.text.empty() ? "Authentication failed: JMX credentials were refused" : f.text;
      return 5;
    }
    if (f.action == "exit") {
      message = f.text.empty() ? "Simulated start-up failure" : f.text;
      return f.status ? f.status : 1;
    }
  }
  return 0;
}

SimReply PriamRequestHandler::Handle(int kind, const std::string& target, const std::string& body) {
  SimRequest request = SimRequest::FromTarget(target, kind, body);
  SimClusterFile file(clusterFile_);
  SimClusterFile::Lock lock(file);
  if (!lock.ok()) return SimReply::Fail("Cannot lock " + clusterFile_);
  SimCluster cluster;
  std::string error;
  if (!file.Load(cluster, error)) return SimReply::Fail(error);
  SimNode* self = cluster.FindNode(address_);
  if (!self) return SimReply::Fail("Node " + address_ + " is not part of the cluster");

  bool invalidJson = false;
  int signalParent = 0;
  bool toGroup = false;
  for (auto f = cluster.faults.begin(); f != cluster.faults.end();) {
    if (Matches(*f, "request", request.name, address_) &&
        (f->action == "signal" || f->action == "signal_group")) {
      // Fires once: the switch goes with the request that fired it.
      signalParent = f->status ? f->status : SIGKILL;
      toGroup = f->action == "signal_group";
      f = cluster.faults.erase(f);
    } else {
      ++f;
    }
  }
  for (const auto& f : cluster.faults) {
    if (!Matches(f, "request", request.name, address_)) continue;
    if (f.action == "access_denied") {
      return SimReply::Fail(f.text.empty() ? "Authentication failed" : f.text, 401);
    }
    if (f.action == "fail") {
      return SimReply::Fail(f.text.empty() ? "Simulated failure of " + request.name : f.text,
                            f.status ? f.status : 500);
    }
    if (f.action == "invalid_json") invalidJson = true;
  }

  SimContext context{cluster, *self};
  context.properties = &properties_;
  SimReply reply = Dispatch(context, request);
  if ((context.changed || signalParent != 0) && !file.Save(cluster, error)) {
    return SimReply::Fail(error);
  }
  // The request has taken effect and is saved; the process that started
  // this Priam is stopped or killed before it reads the reply.
  // "signal_group" reaches the parent's whole process group, as Ctrl-C at a
  // terminal reaches the foreground group.
  if (signalParent != 0 && toGroup) ::kill(-::getpgid(::getppid()), signalParent);
  if (signalParent != 0 && !toGroup) ::kill(::getppid(), signalParent);
  if (invalidJson && reply.status == 200) {
    // Cut short: an unterminated document is never valid JSON.
    reply.text = reply.text.substr(0, reply.text.size() / 2) + "\n<cut";
  }
  return reply;
}

SimReply PriamRequestHandler::Dispatch(SimContext& c, const SimRequest& r) {
  if (!c.self.running && !WorksWhileStopped(r.name)) {
    return SimReply::Fail("Cassandra is not running on " + c.self.address, 503);
  }
  const std::string& n = r.name;
  if (n == "clusterDetails") return SimBackupRequests::ClusterDetails(c);
  if (n == "status") return SimBackupRequests::Status(c);
  if (n == "getMeta") return SimBackupRequests::GetMeta(c);
  if (n == "info") return SimBackupRequests::Info(c);
  if (n == "flush") return SimBackupRequests::Flush(c);
  if (n == "snapshot") return SimBackupRequests::Snapshot(c, r);
  if (n == "ListSnaps") return SimBackupRequests::ListSnaps(c);
  if (n == "clearsnapshot") return SimBackupRequests::ClearSnapshot(c, r);
  if (n == "checkExistance") return SimRestoreRequests::CheckExistance(c, r);
  if (n == "ReplaceTokens" || n == "ExecuteCQL" || n == "insertKey" || n == "TruncateTable" ||
      n == "ExecuteBatch") {
    if (r.kind != 1) return SimReply::Fail(n + " needs a JSON body", 400);
    if (n == "ReplaceTokens") return SimRestoreRequests::ReplaceTokens(c, r);
    if (n == "ExecuteCQL") return SimRestoreRequests::ExecuteCql(c, r);
    if (n == "insertKey") return SimRestoreRequests::InsertKey(c, r);
    if (n == "TruncateTable") return SimRestoreRequests::TruncateTable(c, r);
    return SimRestoreRequests::ExecuteBatch(c, r);
  }
  if (n == "replaceDeadNode") return SimRestoreRequests::ReplaceDeadNode(c, r);
  if (n == "stop") return SimRestoreRequests::Stop(c);
  if (n == "start") return SimRestoreRequests::Start(c);
  if (n == "refresh") return SimRestoreRequests::Refresh(c, r);
  return SimReply::Fail("Unknown request " + n, 404);
}

}  // namespace TqSim
