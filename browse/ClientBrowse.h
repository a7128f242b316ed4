#pragma once

#include <string>

#include "platform/framework/ClientBrowse.h"

namespace TqCassandra {
class PriamUtil;
}

namespace TQCassandra {

// The cluster browser: lists a Cassandra cluster's nodes or keyspaces for
// the suite's user interface.
class CClientBrowse : public DistributedQEL::IClientBrowse {
 public:
  // Keeps `value`; no operation depends on it.
  explicit CClientBrowse(int value);
  ~CClientBrowse() override;

  // The cluster browse is not available yet: answers error 1359 and leaves
  // the responses as they are.
  CQiError MachineBrowse(const std::string& name, App::DistributedClusterType* clusterType,
                         App::MachineBrowseReq* request, App::MachineBrowseResp* response,
                         App::GenericResp* genericResponse) override;

  int getFactoryValue() const { return factoryValue; }

 protected:
  // The integer the factory was called with.
  int factoryValue;
  // The Priam utility of the latest browse.
  boost::shared_ptr<TqCassandra::PriamUtil> priamUtil;
  // Directory that holds the gateway node's java program.
  std::string javaHome;
  std::string cqlHost;
  std::string cqlUser;
  // Base64 of the plain CQL password.
  std::string cqlPassword;
  std::string jmxHost;
  std::string jmxUser;
  // Base64 of the plain JMX password.
  std::string jmxPassword;
  // Extra JVM options handed to the Priam utility.
  std::string priamAdditionalParameters;
  // Ports as the Priam utility reports them.
  std::string cqlPort;
  std::string jmxPort;
  std::string cassandraConfigFile;
  // One suite client hosts several nodes; never cleared.
  bool dockerConfig = false;
  // Base64 of the plain keystore and truststore passwords.
  std::string keystorePassword;
  std::string truststorePassword;
};

}  // namespace TQCassandra
