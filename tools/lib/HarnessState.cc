#include "tools/lib/HarnessState.h"

#include <nlohmann/json.hpp>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/QiFile.h"
#include "platform/json/JsonNumbers.h"

namespace TqHarness {

namespace {

// Member `key` of `j` as a whole number of type T, `fallback` when absent; a
// number out of T's range is refused (the harness state file can be edited).
template <typename T>
T NumberOr(const nlohmann::json& j, const char* key, T fallback) {
  return j.contains(key) ? TqJson::IntegerAt<T>(j, key) : fallback;
}

HarnessNode NodeFrom(const nlohmann::json& n) {
  HarnessNode node;
  node.name = n.value("name", "");
  node.address = n.value("address", "");
  node.dataCenter = n.value("dataCenter", "");
  node.confDir = n.value("confDir", "");
  node.dataDirs = n.value("dataDirs", std::vector<std::string>());
  node.commitLogArchiveDir = n.value("commitLogArchiveDir", "");
  node.containerArchiveDir = n.value("containerArchiveDir", "");
  node.clientId = NumberOr(n, "clientId", uint64_t(0));
  return node;
}

nlohmann::json NodeJson(const HarnessNode& node) {
  return {{"name", node.name},
          {"address", node.address},
          {"dataCenter", node.dataCenter},
          {"confDir", node.confDir},
          {"dataDirs", node.dataDirs},
          {"commitLogArchiveDir", node.commitLogArchiveDir},
          {"containerArchiveDir", node.containerArchiveDir},
          {"clientId", node.clientId}};
}

}  // namespace

HarnessCluster CHarnessState::Primary() const {
  HarnessCluster cluster;
  cluster.name = clusterName;
  cluster.clusterRoot = clusterRoot;
  cluster.clusterFile = clusterFile;
  cluster.nodes = nodes;
  cluster.coordinatorClient = coordinatorClient;
  cluster.coordinatorClientId = coordinatorClientId;
  cluster.instanceId = instanceId;
  cluster.subclientId = subclientId;
  return cluster;
}

bool CHarnessState::FindCluster(const std::string& name, HarnessCluster& cluster) const {
  if (HasCluster() && name == clusterName) {
    cluster = Primary();
    return true;
  }
  for (const auto& further : clusters) {
    if (further.name == name) {
      cluster = further;
      return true;
    }
  }
  return false;
}

HarnessCluster* CHarnessState::FurtherCluster(const std::string& name) {
  for (auto& further : clusters) {
    if (further.name == name) return &further;
  }
  return nullptr;
}

std::string CHarnessState::PathIn(const std::string& home) { return home + "/harness.json"; }

CQiError CHarnessState::Load(const std::string& home) {
  *this = CHarnessState();
  std::string text;
  if (CQiFile::ReadWholeFile(PathIn(home).c_str(), text).IsError()) return CQiError();
  try {
    nlohmann::json doc = nlohmann::json::parse(text);
    clusterRoot = doc.value("clusterRoot", "");
    clusterFile = doc.value("clusterFile", "");
    clusterName = doc.value("clusterName", "");
    dockerWorld = doc.value("dockerWorld", "");
    coordinatorClient = doc.value("coordinatorClient", "");
    coordinatorClientId = NumberOr(doc, "coordinatorClientId", uint64_t(0));
    instanceId = NumberOr(doc, "instanceId", uint64_t(0));
    subclientId = NumberOr(doc, "subclientId", uint64_t(0));
    nextJobId = NumberOr(doc, "nextJobId", int64_t(1));
    changes = NumberOr(doc, "changes", 0);
    for (const auto& n : doc.value("nodes", nlohmann::json::array())) nodes.push_back(NodeFrom(n));
    for (const auto& c : doc.value("clusters", nlohmann::json::array())) {
      HarnessCluster cluster;
      cluster.name = c.value("name", "");
      cluster.clusterRoot = c.value("clusterRoot", "");
      cluster.clusterFile = c.value("clusterFile", "");
      cluster.coordinatorClient = c.value("coordinatorClient", "");
      cluster.coordinatorClientId = NumberOr(c, "coordinatorClientId", uint64_t(0));
      cluster.instanceId = NumberOr(c, "instanceId", uint64_t(0));
      cluster.subclientId = NumberOr(c, "subclientId", uint64_t(0));
      for (const auto& n : c.value("nodes", nlohmann::json::array())) {
        cluster.nodes.push_back(NodeFrom(n));
      }
      clusters.push_back(cluster);
    }
  } catch (const std::exception& e) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Cannot read %s: %s", PathIn(home).c_str(), e.what());
  }
  return CQiError();
}

CQiError CHarnessState::Save(const std::string& home) const {
  nlohmann::json doc;
  doc["clusterRoot"] = clusterRoot;
  doc["clusterFile"] = clusterFile;
  doc["clusterName"] = clusterName;
  doc["dockerWorld"] = dockerWorld;
  doc["coordinatorClient"] = coordinatorClient;
  doc["coordinatorClientId"] = coordinatorClientId;
  doc["instanceId"] = instanceId;
  doc["subclientId"] = subclientId;
  doc["nextJobId"] = nextJobId;
  doc["changes"] = changes;
  doc["nodes"] = nlohmann::json::array();
  for (const auto& node : nodes) doc["nodes"].push_back(NodeJson(node));
  // Written only when there are further clusters, so a home of one cluster
  // keeps the file its earlier versions wrote.
  for (const auto& cluster : clusters) {
    nlohmann::json c = {{"name", cluster.name},
                        {"clusterRoot", cluster.clusterRoot},
                        {"clusterFile", cluster.clusterFile},
                        {"coordinatorClient", cluster.coordinatorClient},
                        {"coordinatorClientId", cluster.coordinatorClientId},
                        {"instanceId", cluster.instanceId},
                        {"subclientId", cluster.subclientId},
                        {"nodes", nlohmann::json::array()}};
    for (const auto& node : cluster.nodes) c["nodes"].push_back(NodeJson(node));
    doc["clusters"].push_back(c);
  }
  const std::string path = PathIn(home);
  CQiError error = CQiFile::ReplaceWholeFile(path.c_str(), doc.dump(2) + "\n");
  if (error.IsError()) return FXErrorUtil::Restate(FXLOC, error, "Cannot write " + path);
  return CQiError();
}

}  // namespace TqHarness
