#include "sim/lib/SimLogReplay.h"

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "platform/msg/FrameworkRecords.h"
#include "sim/lib/SimClusterFile.h"
#include "sim/lib/SimDockerWorld.h"
#include "sim/lib/SimFiles.h"
#include "sim/lib/SimNodeData.h"
#include "sim/lib/SimRestoreRequests.h"

extern char** environ;

namespace TqSim {

namespace {

const char* kProperties = "commitlog_archiving.properties";
const char* kEnv = "cassandra-env.sh";
const char* kReplayOption = "-Dcassandra.replayList=";

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  const size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::vector<std::string> SplitAtBlanks(const std::string& text) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  std::string part;
  while (in >> part) parts.push_back(part);
  return parts;
}

// "key=value" lines of a properties file ("#" and "!" comments); the last
// line of a key wins.
std::string Property(const std::string& text, const std::string& key) {
  std::istringstream in(text);
  std::string line, value;
  while (std::getline(in, line)) {
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#' || trimmed[0] == '!') continue;
    const size_t eq = trimmed.find('=');
    if (eq == std::string::npos || Trim(trimmed.substr(0, eq)) != key) continue;
    value = Trim(trimmed.substr(eq + 1));
  }
  return value;
}

// Whether `path` is `dir` or lies below it; `rest` gets what follows.
bool Under(const std::string& path, const std::string& dir, std::string& rest) {
  if (path == dir) {
    rest.clear();
    return true;
  }
  if (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
      path[dir.size()] == '/') {
    rest = path.substr(dir.size() + 1);
    return true;
  }
  return false;
}

// A folder as the host sees it: a path inside the node's container goes
// through the container's mounts. Without a container the path is the
// host's.
bool HostPath(const std::string& clusterFile, const std::string& confDir,
              const std::string& container, const std::string& path, std::string& host,
              std::string& error) {
  const char* env = std::getenv(SimDockerWorld::kWorldEnv);
  std::string worldFile = env && *env ? env : JoinPath(ParentPath(clusterFile), "docker.json");
  SimDockerWorld world;
  std::string ignored;
  const bool haveWorld = IsFile(worldFile) && world.Load(worldFile, ignored);
  const SimDockerContainer* found = nullptr;
  for (const SimDockerContainer& c : world.containers) {
    if (!container.empty()) {
      if (c.name == container) found = &c;
      continue;
    }
    for (const SimDockerMount& m : c.mounts) {
      std::string rest;
      if (Under(confDir, m.source, rest) && !found) found = &c;
    }
  }
  if (!found) {
    if (!container.empty()) {
      error = "No container " + container + (haveWorld ? "" : " (no docker world)");
      return false;
    }
    host = path;
    return true;
  }
  for (const SimDockerMount& m : found->mounts) {
    std::string rest;
    if (Under(path, m.destination, rest)) {
      host = rest.empty() ? m.source : JoinPath(m.source, rest);
      return true;
    }
  }
  error = "No mount of container " + found->name + " holds " + path;
  return false;
}

// Runs a command line split at blanks, without a shell.
bool RunCommand(const std::string& line, std::string& error) {
  std::vector<std::string> parts = SplitAtBlanks(line);
  if (parts.empty()) {
    error = "Empty restore command";
    return false;
  }
  std::vector<char*> argv;
  for (auto& p : parts) argv.push_back(&p[0]);
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    error = "Cannot run " + line;
    return false;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    error = "The restore command failed: " + line;
    return false;
  }
  return true;
}

const SimTable* FindTable(const SimCluster& cluster, const std::string& name) {
  const size_t dot = name.find('.');
  if (dot == std::string::npos) return nullptr;
  for (const SimKeyspace& ks : cluster.keyspaces) {
    if (ks.name != name.substr(0, dot)) continue;
    for (const SimTable& t : ks.tables) {
      if (t.name == name.substr(dot + 1)) return &t;
    }
  }
  return nullptr;
}

bool FindFault(const SimUtilityNode& node, SimFault& fault) {
  std::vector<SimUtilityNode> one{node};
  return SimRemoteUtility::FindFault(one, SimLogReplay::kMode, fault);
}

void RecordRestart(const std::string& clusterFile, int64_t jobId, const std::string& address,
                   const std::string& outcome) {
  if (clusterFile.empty()) return;
  SimClusterFile file(clusterFile);
  SimClusterFile::Lock lock(file);
  std::ofstream out(JoinPath(ParentPath(clusterFile), SimLogReplay::kRestartsLog), std::ios::app);
  out << jobId << ' ' << address << ' ' << outcome << '\n';
}

// Changes the node in the cluster file under its lock.
template <typename Edit>
bool EditNode(const std::string& clusterFile, const std::string& address, Edit edit,
              std::string& error) {
  SimClusterFile file(clusterFile);
  SimClusterFile::Lock lock(file);
  SimCluster cluster;
  if (!lock.ok() || !file.Load(cluster, error)) {
    if (error.empty()) error = "Cannot lock " + clusterFile;
    return false;
  }
  SimNode* node = cluster.FindNode(address);
  if (!node) {
    error = "Node " + address + " is not part of the cluster";
    return false;
  }
  if (!edit(cluster, *node, error)) return false;
  return file.Save(cluster, error);
}

}  // namespace

bool SimLogReplay::ParseArguments(const CCommandLineArguments& arguments, Arguments& out,
                                  std::string& error) {
  std::string job;
  if (arguments.GetOption(kConfOption, out.confDir).IsError() || out.confDir.empty() ||
      arguments.GetOption("jobId", job).IsError() ||
      arguments.GetOption("stagingPath", out.stagingPath).IsError()) {
    error = "usage: --cassandraConfDirectory D --jobId J [--container C] --stagingPath P";
    return false;
  }
  if (job.empty() || job.size() > 18 || job.find_first_not_of("0123456789") != std::string::npos) {
    error = "not a job id: " + job;
    return false;
  }
  out.jobId = std::stoll(job);
  arguments.GetOption("container", out.container);
  return true;
}

bool SimLogReplay::ReadSettings(const std::string& confDir, Settings& s, std::string& error) {
  s = Settings();
  std::string properties;
  if (!ReadTextFile(JoinPath(confDir, kProperties), properties, error)) return false;
  s.restoreCommand = Property(properties, "restore_command");
  for (const std::string& dir : SplitList(Property(properties, "restore_directories"), ',')) {
    s.restoreDirectories.push_back(dir);
  }
  s.pointInTime = Property(properties, "restore_point_in_time");
  const std::string precision = Property(properties, "precision");
  if (!precision.empty()) s.precision = precision;

  std::string env;
  if (!ReadTextFile(JoinPath(confDir, kEnv), env, error)) return false;
  std::istringstream in(env);
  std::string line;
  while (std::getline(in, line)) {
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    // The last option on the JVM's line wins.
    size_t at = trimmed.rfind(kReplayOption);
    if (at == std::string::npos) continue;
    at += std::string(kReplayOption).size();
    const size_t end = trimmed.find_first_of(" \t\"'", at);
    s.hasReplayList = true;
    s.replayList = SplitList(trimmed.substr(at, end == std::string::npos ? end : end - at), ',');
  }
  return true;
}

bool SimLogReplay::SelectMutations(const std::vector<std::vector<SimMutation>>& segments,
                                   const Settings& s, std::vector<SimMutation>& applied,
                                   std::string& error) {
  applied.clear();
  int64_t point = 0;
  if (!s.pointInTime.empty() && !SimCommitLog::ParsePointInTime(s.pointInTime, point)) {
    error = "Unable to parse restore target time " + s.pointInTime;
    return false;
  }
  const std::set<std::string> tables(s.replayList.begin(), s.replayList.end());
  for (const auto& segment : segments) {
    for (const SimMutation& m : segment) {
      if (s.hasReplayList && !tables.count(m.table)) continue;
      if (!s.pointInTime.empty() && !SimCommitLog::UpToPoint(m, point, s.precision)) continue;
      applied.push_back(m);
    }
  }
  return true;
}

bool SimLogReplay::ReplayOnStart(const std::string& clusterFile, const SimCluster& cluster,
                                 const SimNode& node, int64_t jobId, const std::string& container,
                                 int& applied, std::string& error) {
  applied = 0;
  Settings s;
  if (!ReadSettings(node.confDir, s, error)) return false;
  for (const std::string& table : s.replayList) {
    if (!FindTable(cluster, table)) {
      error = "Unknown table on the replay list: " + table;
      return false;
    }
  }
  SimNodeData data(cluster, node);
  if (!data.Load(error)) return false;
  const std::string commitLogDir = data.settings().commitLogDir;
  // Restore: every segment of the restore folders, once.
  std::vector<std::string> restored;
  if (!s.restoreCommand.empty()) {
    for (const std::string& dir : s.restoreDirectories) {
      std::string host;
      if (!HostPath(clusterFile, node.confDir, container, dir, host, error)) return false;
      if (!IsDir(host)) {
        error = "Unable to list directory " + dir;
        return false;
      }
      for (const std::string& name : ListDir(host)) {
        uint64_t id = 0;
        if (!SimCommitLog::SegmentId(name, id)) continue;
        const std::string to = JoinPath(commitLogDir, name);
        if (IsFile(to)) continue;
        std::string command = s.restoreCommand;
        for (const auto& p : {std::make_pair(std::string("%from"), JoinPath(host, name)),
                              std::make_pair(std::string("%to"), to)}) {
          for (size_t at = command.find(p.first); at != std::string::npos;
               at = command.find(p.first, at + p.second.size())) {
            command.replace(at, p.first.size(), p.second);
          }
        }
        if (!MakeDirs(commitLogDir, error) || !RunCommand(command, error)) return false;
        restored.push_back(to);
      }
    }
  }
  std::sort(restored.begin(), restored.end(), [](const std::string& a, const std::string& b) {
    uint64_t x = 0, y = 0;
    SimCommitLog::SegmentId(BaseName(a), x);
    SimCommitLog::SegmentId(BaseName(b), y);
    return x < y;
  });
  std::vector<std::vector<SimMutation>> segments;
  for (const std::string& path : restored) {
    segments.emplace_back();
    if (!SimCommitLog::ReadSegment(path, segments.back(), error)) return false;
  }
  std::vector<SimMutation> selected;
  if (!SelectMutations(segments, s, selected, error)) return false;
  // Apply, table by table in replay order.
  std::vector<std::string> order;
  std::map<std::string, std::vector<SimMutation>> byTable;
  for (const SimMutation& m : selected) {
    if (!byTable.count(m.table)) order.push_back(m.table);
    byTable[m.table].push_back(m);
  }
  for (const std::string& name : order) {
    const size_t dot = name.find('.');
    const SimTable* table = FindTable(cluster, name);
    if (!table) continue;  // a table dropped since: Cassandra skips its writes
    std::vector<SimTableDir> dirs = data.TableDirs(name.substr(0, dot), *table);
    if (dirs.empty() && !data.MakeTableDirs(name.substr(0, dot), *table, dirs, error)) return false;
    if (!SimCommitLog::AppendToJournal(dirs.front().path(), jobId, byTable[name], error)) {
      return false;
    }
    applied += static_cast<int>(byTable[name].size());
  }
  for (const std::string& path : restored) {
    std::string ignored;
    RemoveTree(path, ignored);
  }
  return true;
}

bool SimLogReplay::PutBackCopies(const std::string& confDir, std::string& error) {
  for (const char* name : {kProperties, kEnv}) {
    const std::string file = JoinPath(confDir, name);
    const std::string copy = file + ".bkp";
    if (!IsFile(copy)) continue;
    if (::rename(copy.c_str(), file.c_str()) != 0) {
      error = "Cannot put " + copy + " back";
      return false;
    }
  }
  return true;
}

int SimLogReplay::Run(CTqRemoteCommandPeer& peer, const Arguments& arguments,
                      const std::vector<SimUtilityNode>& nodes) {
  const std::string wanted = SimRemoteUtility::LocalConfDir(arguments.confDir);
  auto it = std::find_if(nodes.begin(), nodes.end(),
                         [&](const SimUtilityNode& n) { return n.confDir == wanted; });
  SimFault fault;
  const bool faulty = it != nodes.end() && FindFault(*it, fault);
  const std::string clusterFile = it == nodes.end() ? "" : it->clusterFile;
  const std::string address = it == nodes.end() ? "" : it->address;
  if (faulty && fault.action == "no_answer") {
    RecordRestart(clusterFile, arguments.jobId, address, "no_answer");
    peer.Close();
    return 1;
  }

  std::string error;
  std::string outcome;
  bool started = false;
  if (it == nodes.end()) {
    error = "No node of this client has the configuration folder " + arguments.confDir;
    outcome = "no_node";
  } else if (faulty && fault.action == "answer_false") {
    outcome = "answer_false";
  } else {
    // Stop, then start with the restore settings in force.
    started = EditNode(
        clusterFile, address,
        [](SimCluster&, SimNode& n, std::string&) {
          n.running = false;
          n.status = "Down";
          n.upAfterChecks = 0;
          return true;
        },
        error);
    if (started) {
      started = EditNode(
          clusterFile, address,
          [&](SimCluster& cluster, SimNode& n, std::string& e) {
            int applied = 0;
            if (!ReplayOnStart(clusterFile, cluster, n, arguments.jobId, arguments.container,
                               applied, e)) {
              return false;
            }
            if (faulty && fault.action == "never_up") {
              n.running = false;
              n.status = "Down";
              outcome = "never_up";
              return true;
            }
            SimContext context{cluster, n};
            const std::string self = n.address;
            SimReply reply = SimRestoreRequests::Start(context);
            if (reply.status != 200) {
              e = reply.text;
              return false;
            }
            outcome = "up";
            if (faulty && fault.action == "up_after" && fault.status > 0) {
              SimNode* me = cluster.FindNode(self);
              me->status = "Down";
              me->upAfterChecks = fault.status;
              outcome = "up_after_" + std::to_string(fault.status);
            }
            return true;
          },
          error);
    }
    if (!started) outcome = "failed";
  }
  if (!error.empty()) std::cerr << error << "\n";
  RecordRestart(clusterFile, arguments.jobId, address, outcome);

  CQiError e = peer.Send(DistributedQEL::DINameValue(
      "CassandraServiceRestarted", started ? std::to_string(kStatusWaitSeconds) : "false"));
  if (e.IsError()) std::cerr << e.AsString(2) << "\n";
  CNMessageBasePtr answer;
  bool cleanup = false;
  if (!e.IsError()) {
    e = peer.Receive(answer);
    if (e.IsError()) std::cerr << e.AsString(2) << "\n";
  }
  if (answer) {
    std::optional<DistributedQEL::DINameValue> value =
        RecordAs<DistributedQEL::DINameValue>(*answer);
    cleanup = value && value->getName() == "cleanup" && value->getValue() == "true";
  }
  // Whatever the answer, no later start may replay the logs again.
  if (it != nodes.end() && !PutBackCopies(it->confDir, error)) {
    std::cerr << error << "\n";
    return 1;
  }
  return started && cleanup ? 0 : 1;
}

}  // namespace TqSim
