#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/base/QiString.h"
#include "platform/priam/IPriamTransport.h"

namespace TqCassandra {

// Owns one Priam co-process on this machine and carries REST requests to it.
// A use runs: construct, set priamAdditionalParameters, writePriamProperties,
// startPriam, any number of get, stopPriam. The destructor stops a co-process
// that is still running.
class PriamUtil {
 public:
  // mode, Java program path (may be empty), installation base directory, an
  // existing working directory, the Cassandra configuration location (a
  // file, a directory, or "a:b" of which "a" counts), restore mode. The
  // configuration is read here, so the getters answer before any start.
  PriamUtil(int mode, const CQiString& javaPath, const std::string& baseDir,
            const std::string& workingDir, const std::string& confLocation, bool restoreMode);
  ~PriamUtil();
  PriamUtil(const PriamUtil&) = delete;
  PriamUtil& operator=(const PriamUtil&) = delete;

  // Extra JVM options of the next start.
  std::string priamAdditionalParameters;

  // Writes the property set to "priam.properties" in the working directory;
  // it is in effect for the next start.
  CQiError writePriamProperties(std::map<std::string, std::string> properties);

  // Starts the co-process; Win32 5 means it refused authentication.
  CQiError startPriam();

  bool getIsConnected() const { return isConnected_; }

  // Kind 0 sends `resource` without body, kind 1 with the JSON `body`. On
  // success `reply` holds the answer; on failure whatever text came back.
  CQiError get(int requestType, const CQiString& resource, CQiString& reply, const CQiString& body);

  // Configuration of the node, read from its Cassandra configuration now.
  CQiError getCassandraDataDir(std::vector<std::string>& dataDirs);
  CQiError getCassandraSeeds(std::vector<std::string>& seeds);
  // The configuration file's path and the flavour ("cassandra" or "scylla").
  CQiError getConfFileNameCassFlavor(std::string& fileName, std::string& flavour);

  // Ends the co-process and reaps it.
  CQiError stopPriam();

  std::string getJMXport() const { return jmxPort; }
  std::string getCQLhost() const { return cqlHost; }
  std::string getCQLport() const { return cqlPort; }
  std::string getCassandraConfDir() const { return cassandraConfDir; }

  // Every utility made from now on gets its transport from `factory` (null:
  // the real co-process transport). Returns the factory it replaces.
  static PriamTransportFactory SetTransportFactory(PriamTransportFactory factory);

  // From the configuration at construction; empty when not configured.
  std::string jmxPort;
  std::string cqlHost;
  std::string cqlPort;
  std::string cassandraConfDir;

 private:
  CQiError LoadConfig(class CassandraConfig& config) const;
  // The properties file, readable by its owner only.
  CQiError WritePropertiesFile(const std::map<std::string, std::string>& properties);
  void RemovePropertiesFile();

  PriamUtilContext context_;
  std::string propertiesFile_;
  std::map<std::string, std::string> properties_;
  // Properties were written: the file exists while a Priam may need it, and
  // goes when the Priam stops (it holds passwords).
  bool propertiesSet_ = false;
  std::unique_ptr<IPriamTransport> transport_;
  std::mutex mutex_;
  std::atomic<bool> isConnected_{false};
};

// Installs a transport factory for its lifetime and puts the previous one
// back at the end (tests).
class ScopedPriamTransportFactory {
 public:
  explicit ScopedPriamTransportFactory(PriamTransportFactory factory)
      : previous_(PriamUtil::SetTransportFactory(std::move(factory))) {}
  ~ScopedPriamTransportFactory() { PriamUtil::SetTransportFactory(std::move(previous_)); }
  ScopedPriamTransportFactory(const ScopedPriamTransportFactory&) = delete;
  ScopedPriamTransportFactory& operator=(const ScopedPriamTransportFactory&) = delete;

 private:
  PriamTransportFactory previous_;
};

}  // namespace TqCassandra
