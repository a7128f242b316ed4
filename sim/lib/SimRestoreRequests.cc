#include "sim/lib/SimRestoreRequests.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "sim/lib/CqlStatement.h"
#include "sim/lib/SimFiles.h"
#include "sim/lib/SimNodeConfig.h"
#include "sim/lib/SimNodeData.h"
#include "sim/lib/SimSystemKeyCopy.h"
#include "sim/lib/SimTableLoader.h"

namespace TqSim {

using nlohmann::json;

namespace {

bool ParseBody(const SimRequest& request, json& body, SimReply& failure) {
  try {
    body = json::parse(request.body);
  } catch (const json::exception& e) {
    failure = SimReply::Fail(std::string("The request body is not JSON: ") + e.what(), 400);
    return false;
  }
  if (!body.is_object()) {
    failure = SimReply::Fail("The request body is not a JSON object", 400);
    return false;
  }
  return true;
}

bool BodyText(const json& body, const char* key, std::string& out, SimReply& failure) {
  auto it = body.find(key);
  if (it == body.end() || !it->is_string()) {
    failure = SimReply::Fail(std::string("The request body has no text \"") + key + "\"", 400);
    return false;
  }
  out = it->get<std::string>();
  return true;
}

// A configuration path names the directory or its cassandra.yaml.
std::string ConfDirOf(const std::string& path) {
  std::string p = path;
  size_t colon = p.find(':');
  if (colon != std::string::npos && p.find(':', colon + 1) == std::string::npos) p.erase(colon);
  return IsDir(p) ? p : ParentPath(p);
}

std::string NameHash(const std::string& text) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char ch : text) h = (h ^ ch) * 1099511628211ull;
  return SimRandom(h).Uuid();
}

std::string ReplicationCql(const json& replication) {
  std::string out = "{'class': '" + replication.value("class", std::string()) + "'";
  for (auto it = replication.begin(); it != replication.end(); ++it) {
    if (it.key() != "class") out += ", '" + it.key() + "': '" + it->get<std::string>() + "'";
  }
  return out + "}";
}

// Makes the table's directories on every node.
bool MakeDirsOnNodes(SimContext& c, const std::string& keyspace, const SimTable& table,
                     std::string& error) {
  for (const auto& n : c.cluster.nodes) {
    SimNodeData data(c.cluster, n);
    std::vector<SimTableDir> dirs;
    if (!data.Load(error) || !data.MakeTableDirs(keyspace, table, dirs, error)) return false;
  }
  return true;
}

// DSE creates a table whose compression encrypts with a system key only
// when the key is there: the key file in the serving node's system key
// folder and its row among the encrypted keys. `keyFile` gets the key
// file's name ("" for a table without encryption).
SimReply CheckEncryptionKey(SimContext& c, const CqlStatement& st, std::string& keyFile) {
  static const std::regex kKeyFile(R"('system_key_file'\s*:\s*'([^']*)')");
  std::smatch match;
  keyFile.clear();
  if (c.cluster.flavour != "dse" || !std::regex_search(st.text, match, kKeyFile)) {
    return SimReply::Ok("");
  }
  keyFile = match[1].str();
  const bool rowThere =
      std::any_of(c.cluster.encryptedEntries.begin(), c.cluster.encryptedEntries.end(),
                  [&](const json& row) { return row.value("key_file", "") == keyFile; });
  std::string folder, error;
  const bool fileThere = SimSystemKeyCopy::KeyFolder(c.self.confDir, folder, error) &&
                         keyFile.find('/') == std::string::npos &&
                         IsFile(JoinPath(folder, keyFile));
  if (!rowThere || !fileThere) {
    return SimReply::Fail("ConfigurationException: cannot create the encrypted table " +
                          st.keyspace + "." + st.name + ": no system key " + keyFile +
                          (fileThere ? " among the encrypted keys" : " on node " + c.self.address));
  }
  return SimReply::Ok("");
}

SimReply ApplyStatement(SimContext& c, const CqlStatement& st, const json& body) {
  std::string error;
  switch (st.kind) {
    case CqlStatement::kCreateKeyspace: {
      if (c.cluster.FindKeyspace(st.keyspace)) {
        if (st.ifNotExists) return SimReply::Ok("Success");
        return SimReply::Fail("Keyspace " + st.keyspace + " already exists");
      }
      SimKeyspace ks;
      ks.name = st.keyspace;
      ks.replication = st.replication;
      ks.cql = st.text + ";";
      auto replication = body.find("ReplicationString");
      bool keep = body.value("Maintainreplication", 0) == 1;
      if (!keep && replication != body.end() && replication->is_string()) {
        json map;
        if (!CqlStatement::ParseMap(replication->get<std::string>(), map, error) ||
            !map.contains("class")) {
          return SimReply::Fail("Invalid ReplicationString: " + replication->get<std::string>(),
                                400);
        }
        ks.replication = map;
        ks.cql = "CREATE KEYSPACE " + ks.name + " WITH replication = " + ReplicationCql(map) +
                 "  AND durable_writes = true;";
      }
      c.cluster.keyspaces.push_back(ks);
      c.changed = true;
      return SimReply::Ok("Success");
    }
    case CqlStatement::kCreateTable:
    case CqlStatement::kCreateView: {
      SimKeyspace* ks = c.cluster.FindKeyspace(st.keyspace);
      if (!ks) return SimReply::Fail("Keyspace " + st.keyspace + " does not exist");
      if (c.cluster.FindTable(st.keyspace, st.name)) {
        if (st.ifNotExists) return SimReply::Ok("Success");
        return SimReply::Fail("Table " + st.keyspace + "." + st.name + " already exists");
      }
      std::string keyFile;
      SimReply keyCheck = CheckEncryptionKey(c, st, keyFile);
      if (keyCheck.status != 200) return keyCheck;
      SimTable table;
      table.name = st.name;
      table.id =
          st.id.empty() ? NameHash(c.cluster.name + "/" + st.keyspace + "/" + st.name) : st.id;
      table.cql = st.text + ";";
      table.encrypted = !keyFile.empty();
      table.encryption.keyFile = keyFile;
      ks->tables.push_back(table);
      c.changed = true;
      if (!MakeDirsOnNodes(c, st.keyspace, table, error)) return SimReply::Fail(error);
      return SimReply::Ok("Success");
    }
    case CqlStatement::kCreateOther:
      return SimReply::Ok("Success");
    case CqlStatement::kOther:
      break;
  }
  return SimReply::Fail("SyntaxException: unsupported statement: " + st.text);
}

}  // namespace

SimReply SimRestoreRequests::CheckExistance(SimContext& c, const SimRequest& request) {
  const std::string keyspace = request.Param("keyspace");
  if (keyspace.empty()) return SimReply::Fail("checkExistance needs a keyspace", 400);
  bool exists = request.Has("table")
                    ? c.cluster.FindTable(keyspace, request.Param("table")) != nullptr
                    : c.cluster.FindKeyspace(keyspace) != nullptr;
  return SimReply::Ok(exists ? "0" : "1");
}

SimReply SimRestoreRequests::ExecuteCql(SimContext& c, const SimRequest& request) {
  json body;
  SimReply failure;
  std::string schema;
  if (!ParseBody(request, body, failure) || !BodyText(body, "Schema", schema, failure)) {
    return failure;
  }
  std::vector<std::string> statements = CqlStatement::Split(schema);
  if (statements.empty()) return SimReply::Fail("No statement to execute", 400);
  for (const auto& text : statements) {
    CqlStatement st;
    std::string error;
    if (!CqlStatement::Parse(text, st, error)) return SimReply::Fail("SyntaxException: " + error);
    SimReply r = ApplyStatement(c, st, body);
    if (r.status != 200) return r;
  }
  return SimReply::Ok("Success");
}

SimReply SimRestoreRequests::InsertKey(SimContext& c, const SimRequest& request) {
  json body;
  SimReply failure;
  if (!ParseBody(request, body, failure)) return failure;
  json row = json::object();
  for (const char* key : {"key_file", "key", "cipher", "strength", "key_id"}) {
    std::string value;
    if (!BodyText(body, key, value, failure)) return failure;
    row[key] = value;
  }
  auto& rows = c.cluster.encryptedEntries;
  rows.erase(std::remove_if(rows.begin(), rows.end(),
                            [&](const json& r) { return r.value("key_id", "") == row["key_id"]; }),
             rows.end());
  rows.push_back(row);
  c.changed = true;
  return SimReply::Ok("Success");
}

SimReply SimRestoreRequests::TruncateTable(SimContext& c, const SimRequest& request) {
  json body;
  SimReply failure;
  std::string keyspace, tableName;
  if (!ParseBody(request, body, failure) || !BodyText(body, "keyspace", keyspace, failure) ||
      !BodyText(body, "table", tableName, failure)) {
    return failure;
  }
  SimTable* table = c.cluster.FindTable(keyspace, tableName);
  if (!table) return SimReply::Fail("Table " + keyspace + "." + tableName + " does not exist");
  for (const auto& n : c.cluster.nodes) {
    if (!n.running) {
      return SimReply::Fail("Cannot truncate " + keyspace + "." + tableName + ": node " +
                            n.address + " is down");
    }
  }
  std::string error;
  for (const auto& n : c.cluster.nodes) {
    SimNodeData data(c.cluster, n);
    if (!data.Load(error)) return SimReply::Fail(error);
    for (const auto& dir : data.TableDirs(keyspace, *table)) {
      if (!dir.RemoveLive(error)) return SimReply::Fail(error);
    }
  }
  return SimReply::Ok("Success");
}

SimReply SimRestoreRequests::ReplaceTokens(SimContext& c, const SimRequest& request) {
  json body;
  SimReply failure;
  std::string confPath, tokens, replace;
  if (!ParseBody(request, body, failure) || !BodyText(body, "ConfPath", confPath, failure) ||
      !BodyText(body, "Tokens", tokens, failure) || !BodyText(body, "Replace", replace, failure)) {
    return failure;
  }
  std::vector<std::string> wanted = SplitList(tokens, ',');
  if (wanted.empty()) return SimReply::Fail("No tokens given", 400);
  std::set<std::string> have(c.self.tokens.begin(), c.self.tokens.end());
  if (std::set<std::string>(wanted.begin(), wanted.end()) == have) {
    return SimReply::Ok("NotRequired");
  }
  std::string error;
  if (!SimNodeConfig(ConfDirOf(confPath)).SetInitialTokens(wanted, error)) {
    return SimReply::Fail(error);
  }
  c.self.pendingTokens = wanted;
  c.changed = true;
  return SimReply::Ok("Tokens replaced");
}

SimReply SimRestoreRequests::ReplaceDeadNode(SimContext& c, const SimRequest& request) {
  const std::string confPath = request.Param("confpath");
  const std::string dead = request.Param("nodename");
  if (dead.empty()) return SimReply::Fail("replaceDeadNode needs a nodename", 400);
  SimNode* node = c.cluster.FindNode(dead);
  if (!node) return SimReply::Fail("Node " + dead + " is not in the ring");
  if (node->status != "Down") return SimReply::Fail("Node " + dead + " is not down");
  std::string error;
  if (!SimNodeConfig(ConfDirOf(confPath.empty() ? c.self.confDir : confPath))
           .SetReplaceAddress(dead, error)) {
    return SimReply::Fail(error);
  }
  c.self.replacing = dead;
  c.changed = true;
  return SimReply::Ok("Success");
}

SimReply SimRestoreRequests::Stop(SimContext& c) {
  if (c.self.running || c.self.status != "Down") {
    c.self.running = false;
    c.self.status = "Down";
    c.changed = true;
  }
  return SimReply::Ok("Success");
}

SimReply SimRestoreRequests::Start(SimContext& c) {
  std::string error;
  if (!c.self.replacing.empty()) {
    const std::string dead = c.self.replacing;
    auto it = std::find_if(c.cluster.nodes.begin(), c.cluster.nodes.end(),
                           [&](const SimNode& n) { return n.address == dead; });
    std::vector<std::string> deadTokens;
    if (it != c.cluster.nodes.end() && &*it != &c.self) {
      deadTokens = it->tokens;
      // Erasing may move this node in the vector; find it again by address.
      const std::string self = c.self.address;
      c.cluster.nodes.erase(it);
      SimNode* me = c.cluster.FindNode(self);
      if (!me) return SimReply::Fail("Node " + self + " left the ring");
      if (!SimNodeConfig(me->confDir).SetReplaceAddress("", error)) return SimReply::Fail(error);
      me->replacing.clear();
      if (!deadTokens.empty()) me->tokens = deadTokens;
      me->running = true;
      me->status = "Up";
      me->state = "Normal";
      c.changed = true;
      // Cassandra loads every SSTable of its data directories at start.
      if (!SimTableLoader::MakeLive(c.cluster, *me, {}, error)) return SimReply::Fail(error);
      return SimReply::Ok("Success");
    }
    if (!SimNodeConfig(c.self.confDir).SetReplaceAddress("", error)) return SimReply::Fail(error);
    c.self.replacing.clear();
  }
  if (!c.self.pendingTokens.empty()) {
    c.self.tokens = c.self.pendingTokens;
    c.self.pendingTokens.clear();
  }
  c.self.running = true;
  c.self.status = "Up";
  c.self.state = "Normal";
  c.changed = true;
  if (!SimTableLoader::MakeLive(c.cluster, c.self, {}, error)) return SimReply::Fail(error);
  return SimReply::Ok("Success");
}

SimReply SimRestoreRequests::Refresh(SimContext& c, const SimRequest& request) {
  std::vector<std::string> keyspaces = SplitList(request.Param("keyspaces"), ',');
  for (const auto& k : keyspaces) {
    if (!c.cluster.FindKeyspace(k)) return SimReply::Fail("Keyspace " + k + " does not exist");
  }
  // The files placed in the node's table directories become live.
  std::string error;
  if (!SimTableLoader::MakeLive(c.cluster, c.self, keyspaces, error)) return SimReply::Fail(error);
  return SimReply::Ok("Success");
}

SimReply SimRestoreRequests::ExecuteBatch(SimContext& c, const SimRequest& request) {
  json body;
  SimReply failure;
  std::string directory;
  if (!ParseBody(request, body, failure) || !BodyText(body, "directory", directory, failure)) {
    return failure;
  }
  return SimTableLoader::Load(c, directory, c.Property("priam.ignore.nodes") == "true");
}

}  // namespace TqSim
