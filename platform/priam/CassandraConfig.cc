#include "platform/priam/CassandraConfig.h"

#include <yaml-cpp/yaml.h>

#include <fstream>
#include <sstream>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiFile.h"
#include "platform/base/QiPath.h"

namespace TqCassandra {

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::string ScalarText(const YAML::Node& node) {
  if (!node || !node.IsScalar()) return std::string();
  return node.Scalar();
}

// The port of one line that sets JMX_PORT: blanks, JMX_PORT=, the digits,
// optionally inside one pair of quotes, blanks. Read by hand, not with a
// regular expression, whose recursive matcher overflows the stack on a very
// long line. Any other line gives "".
std::string JmxPortOf(const std::string& line) {
  static const char kBlanks[] = " \t\r\n\v\f";
  const size_t begin = line.find_first_not_of(kBlanks);
  if (begin == std::string::npos) return std::string();
  const size_t last = line.find_last_not_of(kBlanks);
  std::string text = line.substr(begin, last - begin + 1);
  static const std::string kKey = "JMX_PORT=";
  if (text.compare(0, kKey.size(), kKey) != 0) return std::string();
  text.erase(0, kKey.size());
  if (!text.empty() && (text.front() == '"' || text.front() == '\'')) text.erase(0, 1);
  if (!text.empty() && (text.back() == '"' || text.back() == '\'')) text.pop_back();
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::string();
  }
  return text;
}

// The JMX port as cassandra-env.sh sets it: JMX_PORT="7199".
std::string ReadJmxPort(const std::string& confDir) {
  std::ifstream in(FXPath::Join(confDir, "cassandra-env.sh"));
  if (!in) return std::string();
  std::string line, port;
  while (std::getline(in, line)) {
    std::string found = JmxPortOf(line);
    if (!found.empty()) port = found;  // the last setting wins
  }
  return port;
}

}  // namespace

void CassandraConfig::ResolveLocation(const std::string& location, std::string& confDir,
                                      std::string& confFile) {
  std::string path = location;
  size_t colon = location.find(':');
  if (colon != std::string::npos && location.find(':', colon + 1) == std::string::npos) {
    path = location.substr(0, colon);
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (CQiPath::IsDirectory(path.c_str())) {
    confDir = path;
    confFile = FXPath::Join(path, "cassandra.yaml");
    if (!CQiPath::IsFile(confFile.c_str()) &&
        CQiPath::IsFile(FXPath::Join(path, "scylla.yaml").c_str()))
      confFile = FXPath::Join(path, "scylla.yaml");
    return;
  }
  confFile = path;
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    confDir = ".";
  } else {
    confDir = slash == 0 ? "/" : path.substr(0, slash);
  }
}

CQiError CassandraConfig::Load(const std::string& location) {
  loaded = false;
  dataDirs.clear();
  seeds.clear();
  cqlHost.clear();
  cqlPort.clear();
  jmxPort.clear();
  ResolveLocation(location, confDir, confFile);
  size_t slash = confFile.find_last_of('/');
  std::string base = slash == std::string::npos ? confFile : confFile.substr(slash + 1);
  flavour = base.find("scylla") != std::string::npos ? "scylla" : "cassandra";
  jmxPort = ReadJmxPort(confDir);

  if (location.empty()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "No Cassandra configuration location given");
  }
  std::string text;
  if (CQiFile::ReadWholeFile(confFile.c_str(), text).IsError()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 2, "Cannot read the Cassandra configuration file %s",
                                   confFile.c_str());
  }
  YAML::Node root;
  try {
    root = YAML::Load(text);
  } catch (const YAML::Exception& e) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13,
                                   "Cassandra configuration file %s is not valid YAML: %s",
                                   confFile.c_str(), e.what());
  }
  if (!root.IsMap()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Cassandra configuration file %s holds no settings",
                                   confFile.c_str());
  }
  try {
    const YAML::Node dirs = root["data_file_directories"];
    if (dirs && dirs.IsSequence()) {
      for (const auto& d : dirs) {
        std::string dir = Trim(ScalarText(d));
        if (!dir.empty()) dataDirs.push_back(dir);
      }
    } else if (dirs && dirs.IsScalar() && !Trim(dirs.Scalar()).empty()) {
      dataDirs.push_back(Trim(dirs.Scalar()));
    }
    // seed_provider: - class_name: ...  parameters: - seeds: "a,b"
    const YAML::Node providers = root["seed_provider"];
    if (providers && providers.IsSequence()) {
      for (const auto& provider : providers) {
        const YAML::Node params = provider["parameters"];
        if (!params || !params.IsSequence()) continue;
        for (const auto& p : params) {
          std::stringstream list(ScalarText(p["seeds"]));
          std::string seed;
          while (std::getline(list, seed, ',')) {
            seed = Trim(seed);
            if (!seed.empty()) seeds.push_back(seed);
          }
        }
      }
    }
    std::string rpc = Trim(ScalarText(root["rpc_address"]));
    std::string broadcastRpc = Trim(ScalarText(root["broadcast_rpc_address"]));
    std::string listen = Trim(ScalarText(root["listen_address"]));
    if (!rpc.empty() && rpc != "0.0.0.0") {
      cqlHost = rpc;
    } else if (!broadcastRpc.empty()) {
      cqlHost = broadcastRpc;
    } else {
      cqlHost = listen;
    }
    cqlPort = Trim(ScalarText(root["native_transport_port"]));
  } catch (const YAML::Exception& e) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Cannot read Cassandra configuration file %s: %s",
                                   confFile.c_str(), e.what());
  }
  loaded = true;
  return CQiError::Success();
}

}  // namespace TqCassandra
