#include "sim/lib/SimCluster.h"

#include <algorithm>

namespace TqSim {

using nlohmann::json;

namespace {

std::string Text(const json& j, const char* key, const std::string& preset = std::string()) {
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) return preset;
  return it->get<std::string>();
}

std::vector<std::string> Texts(const json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) return {};
  return it->get<std::vector<std::string>>();
}

}  // namespace

SimNode* SimCluster::FindNode(const std::string& address) {
  for (auto& n : nodes) {
    if (n.address == address) return &n;
  }
  return nullptr;
}

SimKeyspace* SimCluster::FindKeyspace(const std::string& name) {
  for (auto& k : keyspaces) {
    if (k.name == name) return &k;
  }
  return nullptr;
}

SimTable* SimCluster::FindTable(const std::string& keyspace, const std::string& table) {
  SimKeyspace* ks = FindKeyspace(keyspace);
  if (!ks) return nullptr;
  for (auto& t : ks->tables) {
    if (t.name == table) return &t;
  }
  return nullptr;
}

std::string TableDirName(const SimTable& table) {
  std::string id = table.id;
  id.erase(std::remove(id.begin(), id.end(), '-'), id.end());
  return table.name + "-" + id;
}

json SimCluster::ToJson() const {
  json doc;
  doc["name"] = name;
  doc["version"] = version;
  doc["flavour"] = flavour;
  doc["nodes"] = json::array();
  for (const auto& n : nodes) {
    json j;
    j["name"] = n.name;
    j["address"] = n.address;
    j["data_center"] = n.dataCenter;
    j["rack"] = n.rack;
    j["tokens"] = n.tokens;
    j["host_id"] = n.hostId;
    j["state"] = n.state;
    j["status"] = n.status;
    j["running"] = n.running;
    j["conf_dir"] = n.confDir;
    j["commitlog_archive_dir"] = n.commitLogArchiveDir;
    j["unflushed"] = n.unflushed;
    if (!n.pendingTokens.empty()) j["pending_tokens"] = n.pendingTokens;
    if (!n.replacing.empty()) j["replacing"] = n.replacing;
    if (n.upAfterChecks > 0) j["up_after_checks"] = n.upAfterChecks;
    doc["nodes"].push_back(j);
  }
  doc["keyspaces"] = json::array();
  for (const auto& k : keyspaces) {
    json j;
    j["name"] = k.name;
    j["cql"] = k.cql;
    j["replication"] = k.replication;
    j["tables"] = json::array();
    for (const auto& t : k.tables) {
      json tj;
      tj["name"] = t.name;
      tj["id"] = t.id;
      tj["cql"] = t.cql;
      tj["encrypted"] = t.encrypted;
      if (t.encrypted) {
        tj["encryption"] = {{"key_file", t.encryption.keyFile},
                            {"cipher", t.encryption.cipher},
                            {"strength", t.encryption.strength},
                            {"key", t.encryption.key},
                            {"key_id", t.encryption.keyId}};
      }
      j["tables"].push_back(tj);
    }
    doc["keyspaces"].push_back(j);
  }
  doc["encrypted_entries"] = encryptedEntries;
  doc["faults"] = json::array();
  for (const auto& f : faults) {
    json j;
    j["when"] = f.when;
    if (!f.request.empty()) j["request"] = f.request;
    if (!f.node.empty()) j["node"] = f.node;
    j["action"] = f.action;
    if (f.status) j["status"] = f.status;
    if (!f.text.empty()) j["text"] = f.text;
    doc["faults"].push_back(j);
  }
  return doc;
}

SimCluster SimCluster::FromJson(const json& doc) {
  SimCluster c;
  c.name = Text(doc, "name");
  c.version = Text(doc, "version");
  c.flavour = Text(doc, "flavour", "cassandra");
  for (const auto& j : doc.value("nodes", json::array())) {
    SimNode n;
    n.name = Text(j, "name");
    n.address = Text(j, "address");
    n.dataCenter = Text(j, "data_center");
    n.rack = Text(j, "rack");
    n.tokens = Texts(j, "tokens");
    n.hostId = Text(j, "host_id");
    n.state = Text(j, "state", "Normal");
    n.status = Text(j, "status", "Up");
    n.running = j.value("running", true);
    n.confDir = Text(j, "conf_dir");
    n.commitLogArchiveDir = Text(j, "commitlog_archive_dir");
    n.unflushed = Texts(j, "unflushed");
    n.pendingTokens = Texts(j, "pending_tokens");
    n.replacing = Text(j, "replacing");
    n.upAfterChecks = j.value("up_after_checks", 0);
    c.nodes.push_back(n);
  }
  for (const auto& j : doc.value("keyspaces", json::array())) {
    SimKeyspace k;
    k.name = Text(j, "name");
    k.cql = Text(j, "cql");
    k.replication = j.value("replication", json::object());
    for (const auto& tj : j.value("tables", json::array())) {
      SimTable t;
      t.name = Text(tj, "name");
      t.id = Text(tj, "id");
      t.cql = Text(tj, "cql");
      t.encrypted = tj.value("encrypted", false);
      if (tj.contains("encryption")) {
        const json& e = tj["encryption"];
        t.encryption.keyFile = Text(e, "key_file");
        t.encryption.cipher = Text(e, "cipher");
        t.encryption.strength = e.value("strength", 0);
        t.encryption.key = Text(e, "key");
        t.encryption.keyId = Text(e, "key_id");
      }
      k.tables.push_back(t);
    }
    c.keyspaces.push_back(k);
  }
  c.encryptedEntries = doc.value("encrypted_entries", json::array());
  for (const auto& j : doc.value("faults", json::array())) {
    SimFault f;
    f.when = Text(j, "when");
    f.request = Text(j, "request");
    f.node = Text(j, "node");
    f.action = Text(j, "action");
    f.status = j.value("status", 0);
    f.text = Text(j, "text");
    c.faults.push_back(f);
  }
  return c;
}

}  // namespace TqSim
