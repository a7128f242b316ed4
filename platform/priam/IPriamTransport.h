#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/base/QiError.h"

namespace TqCassandra {

// Everything a start hands the Priam co-process.
struct PriamStartSpec {
  int mode = 0;
  bool restoreMode = false;                       // the utility's last constructor argument
  std::string javaPath;                           // may be empty
  std::string baseDir;                            // installation base directory
  std::string workingDir;                         // exists; the co-process runs in it
  std::string confLocation;                       // Cassandra configuration location as given
  std::string confDir;                            // the configuration directory it resolves to
  std::string propertiesFile;                     // the properties file in the working directory
  std::map<std::string, std::string> properties;  // the last property set written
  std::string jvmOptions;                         // extra JVM options of this start
};

// What the constructor of a utility knows; handed to the transport factory.
struct PriamUtilContext {
  int mode = 0;
  bool restoreMode = false;
  std::string javaPath;
  std::string baseDir;
  std::string workingDir;
  std::string confLocation;
  std::string confDir;
};

// The seam between PriamUtil and the co-process: the real one launches a
// child and talks HTTP to it; tests install a scripted one.
class IPriamTransport {
 public:
  virtual ~IPriamTransport() = default;

  // Launches the co-process and returns once it answers. Win32 5 means the
  // co-process refused authentication.
  virtual CQiError start(const PriamStartSpec& spec) = 0;

  // Sends one request: kind 0 without body, kind 1 with a JSON body. `reply`
  // receives whatever text came back, also on failure.
  virtual CQiError request(int kind, const std::string& resource, const std::string& body,
                           std::string& reply) = 0;

  // Ends the co-process and reaps it; stopping one that is not running
  // succeeds.
  virtual CQiError stop() = 0;

  virtual bool isRunning() const = 0;

  // The utility wrote a new property set to `path`.
  virtual void propertiesWritten(const std::string& path,
                                 const std::map<std::string, std::string>& properties) {
    (void)path;
    (void)properties;
  }
};

using PriamTransportFactory =
    std::function<std::unique_ptr<IPriamTransport>(const PriamUtilContext& context)>;

}  // namespace TqCassandra
