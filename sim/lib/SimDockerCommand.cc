#include "sim/lib/SimDockerCommand.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace TqSim {

namespace {

// A stable container id of 12 hex digits from the name.
std::string ContainerId(const std::string& name) {
  uint64_t hash = 1469598103934665603ull;
  for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
  char text[17];
  std::snprintf(text, sizeof(text), "%016llx", static_cast<unsigned long long>(hash));
  return std::string(text, 12);
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

// The failure the world scripts for this command, if any.
const SimDockerFailure* ScriptedFailure(const SimDockerWorld& world, const std::string& command,
                                        const std::string& format, const std::string& container) {
  for (const auto& f : world.failures) {
    if (f.command != command) continue;
    if (!f.format.empty() && f.format != format) continue;
    if (!f.container.empty() && f.container != container) continue;
    return &f;
  }
  return nullptr;
}

int Fail(const SimDockerFailure& failure, std::string& err) {
  err = failure.standardError;
  if (!err.empty() && err.back() != '\n') err += "\n";
  return failure.exitCode;
}

int List(const std::vector<std::string>& options, const SimDockerWorld& world, std::string& out,
         std::string& err) {
  bool all = false;
  bool formatted = false;
  std::string format;
  for (size_t i = 0; i < options.size(); ++i) {
    const std::string& o = options[i];
    if (o == "-a" || o == "--all") {
      all = true;
    } else if (o == "--format" && i + 1 < options.size()) {
      formatted = true;
      format = options[++i];
    } else if (o.rfind("--format=", 0) == 0) {
      formatted = true;
      format = o.substr(9);
    } else {
      err = "unknown flag: " + o + "\nSee 'docker container ls --help'.\n";
      return 125;
    }
  }
  if (const SimDockerFailure* failure = ScriptedFailure(world, "ls", format, "")) {
    return Fail(*failure, err);
  }
  if (!formatted) out = "CONTAINER ID   IMAGE   NAMES\n";
  for (const auto& c : world.containers) {
    if (!c.running && !all) continue;
    if (!formatted) {
      out += ContainerId(c.name) + "   " + c.image + "   " + c.name + "\n";
      continue;
    }
    std::string line = format;
    ReplaceAll(line, "{{.Names}}", c.name);
    ReplaceAll(line, "{{.Image}}", c.image);
    ReplaceAll(line, "{{.ID}}", ContainerId(c.name));
    if (line.find("{{") != std::string::npos) {
      out.clear();
      err = "template parsing error: the stand-in does not know " + format + "\n";
      return 1;
    }
    out += line + "\n";
  }
  return 0;
}

int Inspect(const std::vector<std::string>& options, const SimDockerWorld& world, std::string& out,
            std::string& err) {
  std::string format;
  std::vector<std::string> names;
  for (size_t i = 0; i < options.size(); ++i) {
    const std::string& o = options[i];
    if ((o == "--format" || o == "-f") && i + 1 < options.size()) {
      format = options[++i];
    } else if (o.rfind("--format=", 0) == 0) {
      format = o.substr(9);
    } else if (!o.empty() && o[0] == '-') {
      err = "unknown flag: " + o + "\nSee 'docker container inspect --help'.\n";
      return 125;
    } else {
      names.push_back(o);
    }
  }
  if (names.empty()) {
    err = "\"docker container inspect\" requires at least 1 argument.\n";
    return 1;
  }
  if (!format.empty() && format != "{{json .Mounts}}") {
    err = "template parsing error: the stand-in does not know " + format + "\n";
    return 1;
  }
  int status = 0;
  nlohmann::json plain = nlohmann::json::array();
  for (const auto& name : names) {
    if (const SimDockerFailure* failure = ScriptedFailure(world, "inspect", format, name)) {
      return Fail(*failure, err);
    }
    const SimDockerContainer* found = nullptr;
    for (const auto& c : world.containers) {
      if (c.name == name) found = &c;
    }
    if (!found) {
      err += "Error: No such container: " + name + "\n";
      status = 1;
      continue;
    }
    if (!format.empty()) {
      out += SimDockerWorld::MountsJson(*found) + "\n";
    } else {
      plain.push_back({{"Id", ContainerId(found->name)},
                       {"Name", "/" + found->name},
                       {"Config", {{"Image", found->image}}},
                       {"Mounts", nlohmann::json::parse(SimDockerWorld::MountsJson(*found))}});
    }
  }
  if (format.empty()) out = plain.dump(4) + "\n";
  return status;
}

}  // namespace

int SimDockerCommand::Run(const std::vector<std::string>& arguments, const SimDockerWorld& world,
                          std::string& out, std::string& err) {
  out.clear();
  err.clear();
  std::vector<std::string> rest;
  std::string verb;
  if (!arguments.empty() && arguments[0] == "ps") {
    verb = "ls";
    rest.assign(arguments.begin() + 1, arguments.end());
  } else if (arguments.size() >= 2 && arguments[0] == "container") {
    verb = arguments[1] == "list" || arguments[1] == "ps" ? "ls" : arguments[1];
    rest.assign(arguments.begin() + 2, arguments.end());
  } else {
    err = "docker: '" + (arguments.empty() ? std::string() : arguments[0]) +
          "' is not a docker command handled by the stand-in.\n";
    return 1;
  }
  if (verb != "ls" && verb != "inspect") {
    err = "docker: 'container " + verb + "' is not a command handled by the stand-in.\n";
    return 1;
  }
  if (!world.engineRunning) {
    err = kEngineDown;
    return 1;
  }
  return verb == "ls" ? List(rest, world, out, err) : Inspect(rest, world, out, err);
}

}  // namespace TqSim
