#include "sim/lib/SimDockerWorld.h"

#include <nlohmann/json.hpp>

#include "sim/lib/SimFiles.h"

namespace TqSim {

namespace {

nlohmann::json MountsToJson(const std::vector<SimDockerMount>& mounts) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& m : mounts) {
    list.push_back({{"Type", m.type},
                    {"Source", m.source},
                    {"Destination", m.destination},
                    {"Mode", ""},
                    {"RW", m.readWrite},
                    {"Propagation", "rprivate"}});
  }
  return list;
}

}  // namespace

std::string SimDockerWorld::MountsJson(const SimDockerContainer& container) {
  return MountsToJson(container.mounts).dump();
}

bool SimDockerWorld::Load(const std::string& path, std::string& error) {
  std::string text;
  if (!ReadTextFile(path, text, error)) return false;
  nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
  if (!doc.is_object()) {
    error = path + " is not a docker world";
    return false;
  }
  try {
    engineRunning = doc.value("engineRunning", true);
    containers.clear();
    for (const auto& c : doc.value("containers", nlohmann::json::array())) {
      SimDockerContainer container;
      container.name = c.at("name").get<std::string>();
      container.image = c.value("image", "");
      container.running = c.value("running", true);
      for (const auto& m : c.value("mounts", nlohmann::json::array())) {
        SimDockerMount mount;
        mount.type = m.value("Type", "bind");
        mount.source = m.value("Source", "");
        mount.destination = m.value("Destination", "");
        mount.readWrite = m.value("RW", true);
        container.mounts.push_back(mount);
      }
      containers.push_back(container);
    }
    failures.clear();
    for (const auto& f : doc.value("failures", nlohmann::json::array())) {
      SimDockerFailure failure;
      failure.command = f.at("command").get<std::string>();
      failure.format = f.value("format", "");
      failure.container = f.value("container", "");
      failure.exitCode = f.value("exitCode", 1);
      failure.standardError = f.value("stderr", "");
      failures.push_back(failure);
    }
  } catch (const std::exception& e) {
    error = path + ": " + e.what();
    return false;
  }
  return true;
}

bool SimDockerWorld::Save(const std::string& path, std::string& error) const {
  nlohmann::json doc;
  doc["engineRunning"] = engineRunning;
  doc["containers"] = nlohmann::json::array();
  for (const auto& c : containers) {
    doc["containers"].push_back({{"name", c.name},
                                 {"image", c.image},
                                 {"running", c.running},
                                 {"mounts", MountsToJson(c.mounts)}});
  }
  doc["failures"] = nlohmann::json::array();
  for (const auto& f : failures) {
    doc["failures"].push_back({{"command", f.command},
                               {"format", f.format},
                               {"container", f.container},
                               {"exitCode", f.exitCode},
                               {"stderr", f.standardError}});
  }
  return WriteTextFile(path, doc.dump(2) + "\n", error);
}

}  // namespace TqSim
