#include "tools/lib/HarnessState.h"

#include <nlohmann/json.hpp>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/QiFile.h"

namespace TqHarness {

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
    coordinatorClientId = doc.value("coordinatorClientId", uint64_t(0));
    instanceId = doc.value("instanceId", uint64_t(0));
    subclientId = doc.value("subclientId", uint64_t(0));
    nextJobId = doc.value("nextJobId", int64_t(1));
    changes = doc.value("changes", 0);
    for (const auto& n : doc.value("nodes", nlohmann::json::array())) {
      HarnessNode node;
      node.name = n.value("name", "");
      node.address = n.value("address", "");
      node.dataCenter = n.value("dataCenter", "");
      node.confDir = n.value("confDir", "");
      node.dataDirs = n.value("dataDirs", std::vector<std::string>());
      node.commitLogArchiveDir = n.value("commitLogArchiveDir", "");
      node.containerArchiveDir = n.value("containerArchiveDir", "");
      node.clientId = n.value("clientId", uint64_t(0));
      nodes.push_back(node);
    }
  } catch (const nlohmann::json::exception& e) {
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
  for (const auto& node : nodes) {
    doc["nodes"].push_back({{"name", node.name},
                            {"address", node.address},
                            {"dataCenter", node.dataCenter},
                            {"confDir", node.confDir},
                            {"dataDirs", node.dataDirs},
                            {"commitLogArchiveDir", node.commitLogArchiveDir},
                            {"containerArchiveDir", node.containerArchiveDir},
                            {"clientId", node.clientId}});
  }
  const std::string path = PathIn(home);
  CQiError error = CQiFile::ReplaceWholeFile(path.c_str(), doc.dump(2) + "\n");
  if (error.IsError()) return FXErrorUtil::Restate(FXLOC, error, "Cannot write " + path);
  return CQiError();
}

}  // namespace TqHarness
