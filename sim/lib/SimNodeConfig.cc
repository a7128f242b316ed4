#include "sim/lib/SimNodeConfig.h"

#include <yaml-cpp/yaml.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "sim/lib/SimFiles.h"

namespace TqSim {

namespace {

const char* kReplaceMarker = "# tqsim replace_address";

std::string Join(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) out += (i ? separator : "") + parts[i];
  return out;
}

YAML::Node SettingsToYaml(const SimNodeSettings& s) {
  YAML::Node root;
  root["cluster_name"] = s.clusterName;
  root["num_tokens"] = s.numTokens;
  if (!s.initialTokens.empty()) root["initial_token"] = Join(s.initialTokens, ",");
  root["partitioner"] = "org.apache.cassandra.dht.Murmur3Partitioner";
  for (const auto& d : s.dataDirs) root["data_file_directories"].push_back(d);
  root["commitlog_directory"] = s.commitLogDir;
  root["saved_caches_directory"] = s.savedCachesDir;
  root["hints_directory"] = s.hintsDir;
  YAML::Node provider;
  provider["class_name"] = "org.apache.cassandra.locator.SimpleSeedProvider";
  YAML::Node params;
  params["seeds"] = Join(s.seeds, ",");
  provider["parameters"].push_back(params);
  root["seed_provider"].push_back(provider);
  root["listen_address"] = s.listenAddress;
  root["rpc_address"] = s.rpcAddress;
  root["native_transport_port"] = s.cqlPort;
  root["storage_port"] = 7000;
  root["incremental_backups"] = s.incrementalBackups;
  root["endpoint_snitch"] = "GossipingPropertyFileSnitch";
  return root;
}

bool WriteYaml(const std::string& path, const YAML::Node& root, std::string& error) {
  YAML::Emitter out;
  out << root;
  return WriteTextFile(path, std::string(out.c_str()) + "\n", error);
}

}  // namespace

bool SimNodeConfig::WriteCassandraYaml(const SimNodeSettings& settings, std::string& error) const {
  return WriteYaml(JoinPath(confDir_, "cassandra.yaml"), SettingsToYaml(settings), error) &&
         WriteEnv(settings.jmxPort, error);
}

bool SimNodeConfig::Read(SimNodeSettings& s, std::string& error) const {
  std::string path = JoinPath(confDir_, "cassandra.yaml");
  std::string text;
  if (!ReadTextFile(path, text, error)) return false;
  try {
    YAML::Node root = YAML::Load(text);
    s = SimNodeSettings();
    s.clusterName = root["cluster_name"].as<std::string>("");
    s.numTokens = root["num_tokens"].as<int>(1);
    s.initialTokens = SplitList(root["initial_token"].as<std::string>(""), ',');
    if (root["data_file_directories"]) {
      for (const auto& d : root["data_file_directories"]) s.dataDirs.push_back(d.as<std::string>());
    }
    s.commitLogDir = root["commitlog_directory"].as<std::string>("");
    s.savedCachesDir = root["saved_caches_directory"].as<std::string>("");
    s.hintsDir = root["hints_directory"].as<std::string>("");
    if (root["seed_provider"] && root["seed_provider"].IsSequence()) {
      for (const auto& p : root["seed_provider"]) {
        if (!p["parameters"]) continue;
        for (const auto& param : p["parameters"]) {
          for (const auto& seed : SplitList(param["seeds"].as<std::string>(""), ',')) {
            s.seeds.push_back(seed);
          }
        }
      }
    }
    s.listenAddress = root["listen_address"].as<std::string>("");
    s.rpcAddress = root["rpc_address"].as<std::string>("");
    s.cqlPort = root["native_transport_port"].as<int>(9042);
    s.incrementalBackups = root["incremental_backups"].as<bool>(false);
  } catch (const YAML::Exception& e) {
    error = "Cannot read " + path + ": " + e.what();
    return false;
  }
  std::string env;
  std::string ignored;
  if (ReadTextFile(JoinPath(confDir_, "cassandra-env.sh"), env, ignored)) {
    // The first line that sets JMX_PORT to a number; read by hand, since a
    // recursive pattern overflows the stack on a very long line.
    std::istringstream lines(env);
    std::string line;
    while (std::getline(lines, line)) {
      size_t at = line.find_first_not_of(" \t\r\v\f");
      if (at == std::string::npos || line.compare(at, 9, "JMX_PORT=") != 0) continue;
      at += 9;
      if (at < line.size() && line[at] == '"') ++at;
      const size_t end = line.find_first_not_of("0123456789", at);
      const std::string digits = line.substr(at, end == std::string::npos ? end : end - at);
      if (digits.empty() || digits.size() > 9) continue;
      s.jmxPort = std::stoi(digits);
      break;
    }
  }
  return true;
}

bool SimNodeConfig::SetInitialTokens(const std::vector<std::string>& tokens,
                                     std::string& error) const {
  std::string path = JoinPath(confDir_, "cassandra.yaml");
  std::string text;
  if (!ReadTextFile(path, text, error)) return false;
  try {
    YAML::Node root = YAML::Load(text);
    root["initial_token"] = Join(tokens, ",");
    root["num_tokens"] = static_cast<int>(tokens.size());
    return WriteYaml(path, root, error);
  } catch (const YAML::Exception& e) {
    error = "Cannot update " + path + ": " + e.what();
    return false;
  }
}

bool SimNodeConfig::WriteEnv(int jmxPort, std::string& error) const {
  std::ostringstream out;
  out << "# Environment of the simulated Cassandra node\n"
      << "MAX_HEAP_SIZE=\"1G\"\n"
      << "HEAP_NEWSIZE=\"200M\"\n"
      << "JMX_PORT=\"" << jmxPort << "\"\n"
      << "JVM_OPTS=\"$JVM_OPTS -Dcassandra.jmx.local.port=$JMX_PORT\"\n";
  return WriteTextFile(JoinPath(confDir_, "cassandra-env.sh"), out.str(), error);
}

bool SimNodeConfig::WriteRackDc(const std::string& dataCenter, const std::string& rack,
                                std::string& error) const {
  return WriteTextFile(JoinPath(confDir_, "cassandra-rackdc.properties"),
                       "dc=" + dataCenter + "\nrack=" + rack + "\n", error);
}

bool SimNodeConfig::WriteCommitLogArchiving(const std::string& archiveCommand,
                                            std::string& error) const {
  std::ostringstream out;
  out << "# Commit log archiving\n"
      << "#\n"
      << "# archive_command runs for every segment that is closed, with %path the\n"
      << "# full path of the segment and %name its file name.\n"
      << "archive_command=" << archiveCommand << "\n"
      << "\n"
      << "# restore_command runs for every archived segment to replay (%from %to)\n"
      << "restore_command=\n"
      << "\n"
      << "# Directories scanned for segments to replay, separated by commas\n"
      << "restore_directories=\n"
      << "\n"
      << "# Replay up to this time (yyyy:MM:dd HH:mm:ss)\n"
      << "restore_point_in_time=\n"
      << "\n"
      << "precision=MICROSECONDS\n";
  return WriteTextFile(JoinPath(confDir_, "commitlog_archiving.properties"), out.str(), error);
}

bool SimNodeConfig::WriteDseYaml(const std::string& systemKeyDirectory, std::string& error) const {
  YAML::Node root;
  root["system_key_directory"] = systemKeyDirectory;
  root["config_encryption_active"] = false;
  return WriteYaml(JoinPath(confDir_, "dse.yaml"), root, error);
}

bool SimNodeConfig::WritePointer(const std::string& clusterFile, const std::string& address,
                                 std::string& error) const {
  nlohmann::json j = {{"cluster_file", clusterFile}, {"address", address}};
  return WriteTextFile(JoinPath(confDir_, kPointerFile), j.dump(2) + "\n", error);
}

bool SimNodeConfig::ReadPointer(std::string& clusterFile, std::string& address,
                                std::string& error) const {
  std::string path = JoinPath(confDir_, kPointerFile);
  std::string text;
  if (!ReadTextFile(path, text, error)) return false;
  try {
    nlohmann::json j = nlohmann::json::parse(text);
    clusterFile = j.at("cluster_file").get<std::string>();
    address = j.at("address").get<std::string>();
  } catch (const nlohmann::json::exception& e) {
    error = path + " is not valid: " + e.what();
    return false;
  }
  return true;
}

bool SimNodeConfig::SetReplaceAddress(const std::string& address, std::string& error) const {
  std::string path = JoinPath(confDir_, "cassandra-env.sh");
  std::string text;
  if (!ReadTextFile(path, text, error)) return false;
  std::istringstream in(text);
  std::string line, kept;
  bool skipNext = false;
  while (std::getline(in, line)) {
    if (skipNext) {
      skipNext = false;
      continue;
    }
    if (line == kReplaceMarker) {
      skipNext = true;
      continue;
    }
    kept += line + "\n";
  }
  if (!address.empty()) {
    kept += std::string(kReplaceMarker) + "\n" +
            "JVM_OPTS=\"$JVM_OPTS -Dcassandra.replace_address=" + address + "\"\n";
  }
  return WriteTextFile(path, kept, error);
}

}  // namespace TqSim
