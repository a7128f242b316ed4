#include "sim/lib/SimBackupRequests.h"

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "sim/lib/SimFiles.h"
#include "sim/lib/SimNodeData.h"

namespace TqSim {

using nlohmann::json;

namespace {

// Size of the Data.db that a flush writes.
constexpr uint64_t kFlushedDataSize = 2048;

std::string JoinTokens(const std::vector<std::string>& tokens) {
  std::string out;
  for (size_t i = 0; i < tokens.size(); ++i) out += (i ? "," : "") + tokens[i];
  return out;
}

uint64_t Hash(const std::string& text) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
  return h;
}

}  // namespace

SimReply SimBackupRequests::ClusterDetails(SimContext& c) {
  json reply = {{"ClusterName", c.cluster.name}, {"Version", c.cluster.version}};
  return SimReply::Ok(reply.dump());
}

SimReply SimBackupRequests::Status(SimContext& c) {
  json reply = json::array();
  for (auto& n : c.cluster.nodes) {
    // A node still joining is Down for this request; after its last one it
    // is Up.
    std::string status = n.status;
    if (n.upAfterChecks > 0) {
      status = "Down";
      if (--n.upAfterChecks == 0 && n.running) n.status = "Up";
      c.changed = true;
    }
    reply.push_back({{"node", n.address},
                     {"state", n.state},
                     {"nodestatus", status},
                     {"data_center", n.dataCenter},
                     {"rack", n.rack},
                     {"token", JoinTokens(n.tokens)},
                     {"hostid", n.hostId}});
  }
  return SimReply::Ok(reply.dump());
}

SimReply SimBackupRequests::GetMeta(SimContext& c) {
  json reply = json::array();
  for (const auto& ks : c.cluster.keyspaces) {
    json tables = json::array();
    for (const auto& t : ks.tables) {
      json table = {
          {"COLUMNSPACE", t.name}, {"ID", t.id}, {"SCHEMA", t.cql}, {"ENCRYPTED", t.encrypted}};
      if (t.encrypted) {
        table["EncyptionOptions"] = {{"key_file", t.encryption.keyFile},
                                     {"cipher", t.encryption.cipher},
                                     {"strength", t.encryption.strength},
                                     {"key", t.encryption.key},
                                     {"key_id", t.encryption.keyId}};
      }
      tables.push_back(table);
    }
    reply.push_back({{"KEYSPACE", ks.name},
                     {"SCHEMA", ks.cql},
                     {"REPLICATION", ks.replication},
                     {"Tables", tables}});
  }
  return SimReply::Ok(reply.dump());
}

SimReply SimBackupRequests::Info(SimContext& c) {
  SimNodeData data(c.cluster, c.self);
  std::string error;
  if (!data.Load(error)) return SimReply::Fail(error);
  json reply = {{"incrementalEnabled", data.settings().incrementalBackups},
                {"ClusterName", c.cluster.name},
                {"Version", c.cluster.version},
                {"HostId", c.self.hostId},
                {"DataCenter", c.self.dataCenter},
                {"Rack", c.self.rack},
                {"Address", c.self.address}};
  return SimReply::Ok(reply.dump());
}

SimReply SimBackupRequests::Flush(SimContext& c) {
  SimNodeData data(c.cluster, c.self);
  std::string error;
  if (!data.Load(error)) return SimReply::Fail(error);
  int flushed = 0;
  for (const auto& entry : c.self.unflushed) {
    size_t dot = entry.find('.');
    SimTable* table = dot == std::string::npos
                          ? nullptr
                          : c.cluster.FindTable(entry.substr(0, dot), entry.substr(dot + 1));
    if (!table) continue;  // dropped since
    std::vector<SimTableDir> dirs;
    if (!data.MakeTableDirs(entry.substr(0, dot), *table, dirs, error))
      return SimReply::Fail(error);
    int generation = 0;
    for (const auto& d : dirs) generation = std::max(generation, d.HighestGeneration());
    ++generation;
    const SimTableDir& dir = dirs[(generation - 1) % dirs.size()];
    SimSSTable written;
    uint64_t seed = Hash(c.self.address + "/" + entry + "/" + std::to_string(generation));
    if (!dir.WriteSSTable(generation, kFlushedDataSize, seed, written, error)) {
      return SimReply::Fail(error);
    }
    if (data.settings().incrementalBackups && !dir.LinkIntoBackups(written, error)) {
      return SimReply::Fail(error);
    }
    ++flushed;
  }
  if (!c.self.unflushed.empty()) {
    c.self.unflushed.clear();
    c.changed = true;
  }
  return SimReply::Ok(json{{"flushed", flushed}}.dump());
}

SimReply SimBackupRequests::Snapshot(SimContext& c, const SimRequest& request) {
  const std::string name = request.Param("SnapID");
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
    return SimReply::Fail("A snapshot needs a valid SnapID", 400);
  }
  std::vector<SimKeyspace*> keyspaces;
  std::vector<std::string> wanted = request.Params("keyspace");
  if (wanted.empty()) {
    for (auto& ks : c.cluster.keyspaces) keyspaces.push_back(&ks);
  }
  for (const auto& k : wanted) {
    SimKeyspace* ks = c.cluster.FindKeyspace(k);
    if (!ks) return SimReply::Fail("Keyspace " + k + " does not exist");
    keyspaces.push_back(ks);
  }
  SimNodeData data(c.cluster, c.self);
  std::string error;
  if (!data.Load(error)) return SimReply::Fail(error);
  for (const SimKeyspace* ks : keyspaces) {
    for (const auto& dir : data.KeyspaceTableDirs(ks->name)) {
      if (dir.HasSnapshot(name)) return SimReply::Fail("Snapshot " + name + " already exists.");
    }
  }
  int tables = 0;
  for (const SimKeyspace* ks : keyspaces) {
    for (const auto& t : ks->tables) {
      if (!SimTableDir::SnapshotTable(data.TableDirs(ks->name, t), name, t.cql, error)) {
        return SimReply::Fail(error);
      }
      ++tables;
    }
  }
  return SimReply::Ok(json{{"snapshot", name}, {"tables", tables}}.dump());
}

SimReply SimBackupRequests::ListSnaps(SimContext& c) {
  SimNodeData data(c.cluster, c.self);
  std::string error;
  if (!data.Load(error)) return SimReply::Fail(error);
  std::map<std::string, std::set<std::string>> snapshots;
  for (const auto& dir : data.AllTableDirs()) {
    std::string table = BaseName(dir.path());
    std::string keyspace = BaseName(ParentPath(dir.path()));
    size_t dash = table.rfind('-');
    if (dash != std::string::npos) table.erase(dash);
    for (const auto& s : dir.Snapshots()) snapshots[s].insert(keyspace + "." + table);
  }
  json reply = json::object();
  for (const auto& s : snapshots) reply[s.first] = s.second;
  return SimReply::Ok(reply.dump());
}

SimReply SimBackupRequests::ClearSnapshot(SimContext& c, const SimRequest& request) {
  const std::string name = request.Param("SnapID");
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
    return SimReply::Fail("clearsnapshot needs a valid SnapID", 400);
  }
  SimNodeData data(c.cluster, c.self);
  std::string error;
  if (!data.Load(error)) return SimReply::Fail(error);
  int cleared = 0;
  for (const auto& dir : data.AllTableDirs()) {
    if (!dir.HasSnapshot(name)) continue;
    if (!dir.ClearSnapshot(name, error)) return SimReply::Fail(error);
    ++cleared;
  }
  return SimReply::Ok(json{{"cleared", name}, {"tables", cleared}}.dump());
}

}  // namespace TqSim
