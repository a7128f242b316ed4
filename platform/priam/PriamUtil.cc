#include "platform/priam/PriamUtil.h"

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiFile.h"
#include "platform/base/QiPath.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/CassandraConfig.h"
#include "platform/priam/HttpPriamTransport.h"

namespace TqCassandra {

namespace {

std::mutex& FactoryMutex() {
  static std::mutex mutex;
  return mutex;
}

PriamTransportFactory& Factory() {
  static PriamTransportFactory factory;
  return factory;
}

// Java properties escaping: keys also escape the separators.
std::string Escape(const std::string& text, bool key) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\f':
        out += "\\f";
        break;
      case ' ':
        out += (key || i == 0) ? "\\ " : " ";
        break;
      case '=':
      case ':':
      case '#':
      case '!':
        if (key || i == 0) out += '\\';
        out += c;
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

PriamTransportFactory PriamUtil::SetTransportFactory(PriamTransportFactory factory) {
  std::lock_guard<std::mutex> lock(FactoryMutex());
  PriamTransportFactory previous = std::move(Factory());
  Factory() = std::move(factory);
  return previous;
}

PriamUtil::PriamUtil(int mode, const CQiString& javaPath, const std::string& baseDir,
                     const std::string& workingDir, const std::string& confLocation,
                     bool restoreMode) {
  context_.mode = mode;
  context_.restoreMode = restoreMode;
  context_.javaPath = javaPath.str();
  context_.baseDir = baseDir;
  context_.workingDir = workingDir;
  context_.confLocation = confLocation;
  propertiesFile_ = FXPath::Join(workingDir, "priam.properties");

  CassandraConfig config;
  CQiError e = config.Load(confLocation);
  if (e.IsError()) {
    TQLOG(1, "Cassandra configuration not read: %s", e.AsString(2).c_str());
  }
  context_.confDir = config.confDir;
  cassandraConfDir = config.confDir;
  jmxPort = config.jmxPort;
  cqlHost = config.cqlHost;
  cqlPort = config.cqlPort;

  PriamTransportFactory factory;
  {
    std::lock_guard<std::mutex> lock(FactoryMutex());
    factory = Factory();
  }
  if (factory) transport_ = factory(context_);
  if (!transport_) transport_ = std::make_unique<HttpPriamTransport>();
}

PriamUtil::~PriamUtil() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (transport_ && transport_->isRunning()) {
    CQiError e = transport_->stop();
    if (e.IsError()) TQLOG(-1, "Failed to stop Priam: %s", e.AsString(2).c_str());
  }
  RemovePropertiesFile();
}

CQiError PriamUtil::LoadConfig(CassandraConfig& config) const {
  CQiError e = config.Load(context_.confLocation);
  if (e.IsError()) e.Push(FXLOC);
  return e;
}

CQiError PriamUtil::WritePropertiesFile(const std::map<std::string, std::string>& properties) {
  std::string text = "# Priam properties\n";
  for (const auto& p : properties)
    text += Escape(p.first, true) + "=" + Escape(p.second, false) + "\n";
  // The set holds passwords: only the owner reads the file.
  CQiError error = CQiFile::ReplaceWholeFile(propertiesFile_.c_str(), text, 0600);
  if (error.IsError()) {
    return FXErrorUtil::Restate(FXLOC, error,
                                "Failed to write Priam properties " + propertiesFile_);
  }
  return CQiError::Success();
}

void PriamUtil::RemovePropertiesFile() {
  if (!propertiesSet_) return;
  CQiError error = CQiFile::Delete(propertiesFile_.c_str());
  if (error.IsError()) {
    TQLOG(-1, "Failed to remove Priam properties %s: %s", propertiesFile_.c_str(),
          error.AsString(2).c_str());
  }
}

CQiError PriamUtil::writePriamProperties(std::map<std::string, std::string> properties) {
  std::lock_guard<std::mutex> lock(mutex_);
  CQiError error = WritePropertiesFile(properties);
  if (error.IsError()) return error.Push(FXLOC);
  properties_ = std::move(properties);
  propertiesSet_ = true;
  transport_->propertiesWritten(propertiesFile_, properties_);
  TQLOG(2, "Wrote %zu Priam properties to %s", properties_.size(), propertiesFile_.c_str());
  return CQiError::Success();
}

CQiError PriamUtil::startPriam() {
  std::lock_guard<std::mutex> lock(mutex_);
  PriamStartSpec spec;
  spec.mode = context_.mode;
  spec.restoreMode = context_.restoreMode;
  spec.javaPath = context_.javaPath;
  spec.baseDir = context_.baseDir;
  spec.workingDir = context_.workingDir;
  spec.confLocation = context_.confLocation;
  spec.confDir = context_.confDir;
  spec.propertiesFile = propertiesFile_;
  spec.properties = properties_;
  if (propertiesSet_ && !CQiPath::IsFile(propertiesFile_.c_str())) {
    // Removed when the Priam before this one stopped.
    CQiError written = WritePropertiesFile(properties_);
    if (written.IsError()) return written.Push(FXLOC);
  }
  spec.jvmOptions = priamAdditionalParameters;
  TQLOG(2, "Starting Priam in %s for %s; JVM options [%s]", spec.workingDir.c_str(),
        spec.confLocation.c_str(), spec.jvmOptions.c_str());
  CQiError e = transport_->start(spec);
  if (e.IsError()) {
    isConnected_ = false;
    RemovePropertiesFile();
    TQLOG(-1, "Priam did not start: %s", e.AsString(2).c_str());
    return e.Push(FXLOC);
  }
  isConnected_ = true;
  return CQiError::Success();
}

CQiError PriamUtil::get(int requestType, const CQiString& resource, CQiString& reply,
                        const CQiString& body) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string text;
  CQiError e = transport_->request(requestType, resource.str(), body.str(), text);
  reply = text;
  if (e.IsError()) {
    TQLOG(1, "Priam request %s failed: %s", resource.c_str(), e.AsString(2).c_str());
    return e.Push(FXLOC);
  }
  TQLOG(4, "Priam request %s answered %zu bytes", resource.c_str(), text.size());
  return CQiError::Success();
}

CQiError PriamUtil::getCassandraDataDir(std::vector<std::string>& dataDirs) {
  CassandraConfig config;
  CQiError e = LoadConfig(config);
  if (e.IsError()) return e;
  if (config.dataDirs.empty()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "No data_file_directories in %s",
                                   config.confFile.c_str());
  }
  dataDirs = config.dataDirs;
  return CQiError::Success();
}

CQiError PriamUtil::getCassandraSeeds(std::vector<std::string>& seeds) {
  CassandraConfig config;
  CQiError e = LoadConfig(config);
  if (e.IsError()) return e;
  if (config.seeds.empty()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "No seeds in %s", config.confFile.c_str());
  }
  seeds = config.seeds;
  return CQiError::Success();
}

CQiError PriamUtil::getConfFileNameCassFlavor(std::string& fileName, std::string& flavour) {
  CassandraConfig config;
  CQiError e = LoadConfig(config);
  if (e.IsError()) return e;
  fileName = config.confFile;
  flavour = config.flavour;
  return CQiError::Success();
}

CQiError PriamUtil::stopPriam() {
  std::lock_guard<std::mutex> lock(mutex_);
  isConnected_ = false;
  CQiError e = transport_->stop();
  // The passwords leave the disk with the Priam that needed them.
  RemovePropertiesFile();
  if (e.IsError()) {
    TQLOG(-1, "Failed to stop Priam: %s", e.AsString(2).c_str());
    return e.Push(FXLOC);
  }
  return CQiError::Success();
}

}  // namespace TqCassandra
