#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "common/CassandraNodeRecords.h"
#include "common/CassandraPriamOptionsBuilder.h"
#include "platform/base/QiError.h"

namespace TqCassandra {
class PriamUtil;
}

namespace TQCassandra {

// JMX connection settings read from an App::JMXConnection text.
struct PriamJmxSettings {
  std::string host;   // field 1
  uint32_t port = 0;  // field 2
  // The credentials' user name; empty without credentials.
  std::string user;
  // Base64 of the decrypted password; set only when `user` is not empty.
  std::string token;
  // Field 3; set only when `user` is not empty.
  std::string service;
};

// What the coordinator's Priam start-up reads from the coordinator and its
// client configuration.
struct CoordinatorPriamInputs {
  std::string javaHome;
  // The Cassandra configuration file.
  std::string cassandraConfigFile;
  // The configuration's job-results path; the working directory is this path
  // followed by this machine's client name.
  std::string jobResultsPath;
  // The CQL gateway; the password is the base64 of the decrypted password.
  std::string gatewayHost;
  uint32_t gatewayCqlPort = 0;
  std::string gatewayUser;
  std::string gatewayPassword;
  // JMX user and base64 token, as ReadJmxConfig gave them.
  std::string jmxUser;
  std::string jmxPassword;
  // An App::AuthConfig record as XML text (may be empty).
  std::string authConfigXml;
  // The utility is made in restore mode (the restore coordinators).
  bool restoreMode = false;
};

// A node record's configuration field names a directory, a file, or, as
// discovery may store it, "a:b" of which the first part counts: the location
// the field stands for.
std::string NodeConfigurationLocation(const std::string& configDirectory);

// One Cassandra instance of a node machine, as its Priam start-up needs it.
struct NodePriamInstance {
  std::string javaHome;         // field 15 of the node record
  std::string configDirectory;  // field 13: a directory, a file, or "a:b"

  static NodePriamInstance FromNode(const App::CassandraNode& node);
};

using PriamUtilPtr = boost::shared_ptr<TqCassandra::PriamUtil>;
// Instance name to that instance's Priam utility, ascending by name.
using PriamByInstance = std::map<std::string, PriamUtilPtr>;

// The recipe by which the backup coordinator and the backup controller
// prepare, configure and start their Priam co-processes: working directory,
// utility, property set (CQL and JMX endpoints, credentials, keystore
// passwords) and extra JVM options (JMX host, SSL switches, keystores).
//
// The coordinator runs one Priam for the whole job through the instance's CQL
// gateway; its failures come back as errors carrying events for the job. The
// node runs one Priam per Cassandra instance; its failures are plain errors,
// and a Priam that merely did not start leaves its instance behind, not
// running, while the others go on.
class CassandraPriamSetup {
 public:
  enum Variant { kCoordinator, kNode };

  static constexpr uint32_t kEvPriamStartFailed = 0x60003D4;
  static constexpr uint32_t kEvPriamAccessDenied = 0x6000485;
  static constexpr uint32_t kEvPasswordDecryptFailed = 0x6000478;

  // Decrypts a stored (encrypted) password and gives the base64 text of the
  // plain password. False when the text does not decrypt.
  static bool DecryptToBase64(const std::string& encrypted, std::string& base64);

  // Reads a JMX configuration text (nothing happens when it is empty): host,
  // port, user, and with a user the token and the service. A password that
  // does not decrypt fails: coordinator, an error carrying event 0x6000478
  // with "JMX password"; node, error 13.
  static CQiError ReadJmxSettings(Variant variant, const std::string& jmxConfigXml,
                                  PriamJmxSettings& jmx);

  // Reads the SSL settings of an authentication text; `ssl.enabled` only
  // when the text turns SSL on. A password that does not decrypt fails like
  // the JMX password ("Keystore password", "Truststore password").
  static CQiError ReadSslSettings(Variant variant, const std::string& authConfigXml,
                                  PriamSslSettings& ssl);

  // Sets up a node's Priam from the JMX and authentication texts: the JMX
  // host option (when JMX settings are present), the JMX port the utility
  // reports, the JMX user and token, the SSL settings; writes the property
  // set and hands over the JVM options. Decryption failures as above (node).
  static CQiError ConfigureNodePriam(CassandraPriamOptionsBuilder::Style style,
                                     const std::string& jmxConfig, const std::string& authConfig,
                                     TqCassandra::PriamUtil& priam);

  // ReadJmxSettings (nothing happens when the text is empty): host,
  // port, user, and with a user the token and the service. Then, when the
  // registry switch "Cassandra"/nCassandraRemoteJMXEnabled is non-zero,
  // appends " -Dpriam.jmx.host=<host>" to `priamAdditionalParameters`.
  // A password that does not decrypt fails: coordinator, an error carrying
  // event 0x6000478 with "JMX password"; node, error 13.
  static CQiError ReadJmxConfig(Variant variant, const std::string& jmxConfigXml,
                                PriamJmxSettings& jmx, std::string& priamAdditionalParameters);

  // Coordinator: Java path, base directory, working directory and a new
  // utility in `priam` (not started).
  static CQiError MakeCoordinatorPriam(const CoordinatorPriamInputs& inputs, PriamUtilPtr& priam);

  // Coordinator: builds and writes the property set and appends the SSL
  // options to `priamAdditionalParameters` (the body of the coordinator's
  // setAdditionalPriamValues).
  static CQiError SetCoordinatorPriamValues(const CoordinatorPriamInputs& inputs,
                                            TqCassandra::PriamUtil& priam,
                                            std::string& priamAdditionalParameters);

  // Coordinator: hands the JVM options to the utility when there are any
  // (the body of the coordinator's setAdditionalPriamParameters). Succeeds.
  static CQiError SetPriamParameters(const std::string& priamAdditionalParameters,
                                     TqCassandra::PriamUtil& priam);

  // Coordinator: the whole start-up in one call: MakeCoordinatorPriam,
  // SetCoordinatorPriamValues, SetPriamParameters and the start. A failed
  // start is handed to `onStartFailure` (once; it raises the job event) and
  // then returned. No event is raised here.
  static CQiError StartCoordinatorPriam(const CoordinatorPriamInputs& inputs,
                                        std::string& priamAdditionalParameters, PriamUtilPtr& priam,
                                        const std::function<void(const CQiError&)>& onStartFailure);

  // Node: a new utility (not started) for one Cassandra node: Java path from
  // the Java home ("" without one), working directory `jobResultsDirectory`
  // / `clientName` / the node's name as one path component
  // (WorkingDirectoryName), created with its parents.
  static CQiError MakeNodePriam(const std::string& javaHome, const std::string& jobResultsDirectory,
                                const std::string& clientName, const std::string& name,
                                const std::string& confLocation, PriamUtilPtr& priam);

  // A node name as one path component that cannot leave its folder: "%" and
  // "/" are written "%25" and "%2F"; "", "." and ".." become "%", "%%2E" and
  // "%%2E%2E". Distinct names stay distinct.
  static std::string WorkingDirectoryName(const std::string& name);

  // Node: raises the job event of a Priam that did not start: access denied
  // (error 5) 0x6000485 without argument, anything else 0x60003D4 with the
  // error's text. True for access denied.
  static bool RaiseNodeStartFailure(const CQiError& error);

  // Node: one utility per instance, in ascending name order, stored in
  // `priamByInstance` under the instance name as soon as it is made; with
  // `start` each is then configured with the JMX and authentication texts
  // and started. Working directory: `jobResultsDirectory`, this machine's
  // client name, the instance name.
  static CQiError InitializeNodePriams(const std::map<std::string, NodePriamInstance>& instances,
                                       const std::string& jobResultsDirectory,
                                       const std::string& jmxConfig, const std::string& authConfig,
                                       bool start, PriamByInstance& priamByInstance);

  // Node: stops every running utility in ascending name order; the utilities
  // stay in the map. An entry without a utility ends the walk with error 87.
  static CQiError UninitializeNodePriams(PriamByInstance& priamByInstance);
};

}  // namespace TQCassandra
