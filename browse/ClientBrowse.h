#pragma once

#include <boost/shared_ptr.hpp>
#include <list>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/CassandraNodeRecords.h"
#include "common/ClusterBrowseRecords.h"
#include "platform/base/QiString.h"
#include "platform/framework/ClientBrowse.h"

namespace TqCassandra {
class PriamUtil;
}

namespace TQCassandra {

// The cluster browser: lists a Cassandra cluster's nodes, or its keyspaces
// with their replication, for the suite's user interface. Each MachineBrowse
// reads the gateway node's connection settings (from the stored instance or
// from the request's cluster configuration), starts a Priam of its own in a
// folder made for the browse, asks it for the nodes or the keyspaces and
// answers one browse item. The folder is removed and Priam stopped when the
// browse ends, whether it succeeded or not.
//
// Sources: ClientBrowse.cc (request, settings, Priam), ClientBrowseNodes.cc
// (node browse), ClientBrowseContent.cc (content browse).
class CClientBrowse : public DistributedQEL::IClientBrowse {
 public:
  // Text in front of every failure reason of App::GenericResp.
  static constexpr const char* kFailurePrefix =
      "Failed to fetch nodes/schemas from the Cassandra cluster: ";
  static constexpr const char* kClusterDetailsFailed =
      "Error while getting cluster Details from the Cassandra cluster.";
  static constexpr uint32_t kEvPriamRequestFailed = 0x60003D3;

  // Keeps `value`; no operation depends on it.
  explicit CClientBrowse(int value);
  ~CClientBrowse() override;

  // Answers one browse request: a content browse when the request's
  // subclient id is -1 or positive, else a node browse. On success one item
  // is appended to the response and `genericResponse` is left alone; on
  // failure it gets error code 1 and kFailurePrefix followed by the reason.
  CQiError MachineBrowse(const std::string& name, App::DistributedClusterType* clusterType,
                         App::MachineBrowseReq* request, App::MachineBrowseResp* response,
                         App::GenericResp* genericResponse) override;

  int getFactoryValue() const { return factoryValue; }

 protected:
  // Writes the priam.* properties of the non-empty members and hands the
  // JVM options to the utility. Succeeds.
  CQiError setAdditionalPriamValues();
  // <base>/Temp/<random UUID>, created.
  CQiError getTempPriamDirectory(const std::string& base, std::string& dir);
  // Win32 5 "JMX Authentication Error" or Win32 1359 "Failed to start Priam
  // service" when Priam does not start.
  CQiError startPriamService();
  // Stops Priam; a failure is only logged. Succeeds.
  CQiError stopPriamService();

  // Node browse: "Normal", "Leaving", "Joining", "Moving" (exactly); any
  // other text is logged and read as Normal.
  App::CassandraNodeState getStatus(const std::string& state);
  // The suite client name of each address (stored procedure 0x1E122479).
  // Sets dockerConfig when two addresses belong to one client.
  CQiError getTQclientsForIPs(std::list<std::string> addresses,
                              std::map<std::string, std::string>& clients);

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
  // One suite client hosts several nodes of this browse's cluster.
  bool dockerConfig = false;
  // Base64 of the plain keystore and truststore passwords.
  std::string keystorePassword;
  std::string truststorePassword;

 private:
  // The steps of one browse; on failure `reason` says why (without the
  // prefix) and the error is returned.
  CQiError runBrowse(const App::MachineBrowseReq& request, App::MachineBrowseResp& response,
                     std::string& priamFileDir, std::string& reason);
  CQiError readSettings(const App::DistributedAppsBrowseProperties& properties,
                        std::string& reason);
  CQiError settingsFromInstance(int64_t instanceId, std::string& reason);
  CQiError settingsFromRequest(const App::DistributedAppsBrowseProperties& properties,
                               std::string& reason);
  // The gateway node's JMX settings (App::JMXConnection text) and SSL
  // settings (App::AuthConfig text), either may be empty: the JMX and store
  // passwords, the JMX host option and the SSL options.
  CQiError addJmxAndSsl(const std::string& jmxXml, const std::string& authXml, std::string& reason);
  CQiError subclientPriamDirectory(const App::MachineBrowseReq& request, int64_t subclientId,
                                   std::string& dir, std::string& reason);
  // Stops Priam and removes the browse's folder and the parents it made.
  void cleanUp();

  // Asks Priam for "clusterDetails": its "ClusterName" and "Version". A
  // failed request or a reply that is not an object of texts is an error,
  // with kClusterDetailsFailed as the reason.
  CQiError requestClusterDetails(CQiString& reply, std::string& clusterName, std::string& version,
                                 std::string& reason);
  CQiError nodeBrowse(App::MachineBrowseItem& item, std::string& reason);
  CQiError contentBrowse(App::MachineBrowseItem& item, std::string& reason);

  // The folders this browse created, its own folder first and then each
  // parent it made on the way; removed when the browse ends.
  std::vector<std::string> createdDirs_;
};

}  // namespace TQCassandra
