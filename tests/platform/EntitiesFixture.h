#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/app/App_ExecuteSP.h"
#include "platform/app/SuiteRegistration.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/ClientDirectory.h"
#include "platform/suite/SuiteStore.h"
#include "tests/platform/TempDir.h"

// A suite home of its own for each test, with the central server's records
// under it, and the stored-procedure switches cleared before and after.
class EntitiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CClientContext::SetSuiteHome(home_.path());
    App_ExecuteSP::ClearFailures();
    App_ExecuteSP::ClearCalls();
  }
  void TearDown() override {
    App_ExecuteSP::ClearFailures();
    App_ExecuteSP::ClearCalls();
    CClientDirectory::Instance().Clear();
    CClientContext::SetSuiteHome("");
  }

  uint64_t Client(const std::string& name, const std::vector<std::string>& addresses,
                  uint64_t id = 0) {
    CQiError error = registration_.registerClient(name, name + ".sim", addresses, id);
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
    return id;
  }

  // Three node clients (10.0.0.1 to 10.0.0.3), the cluster's own client (id
  // 100) and an instance (id 7) whose stored nodes each name their own
  // configuration directory.
  SInstanceSettings ThreeNodeInstance() {
    node1_ = Client("node1", {"10.0.0.1"});
    node2_ = Client("node2", {"10.0.0.2"});
    node3_ = Client("node3", {"10.0.0.3"});
    Client("cluster1", {}, 100);
    SInstanceSettings settings;
    settings.id = 7;
    settings.name = "cassandra1";
    settings.clientId = 100;
    settings.cassandraConfigFile = "/etc/cassandra/cassandra.yaml";
    settings.javaHome = "/usr/lib/jvm/java-11";
    settings.gatewayHost = "10.0.0.1";
    settings.gatewayCqlPort = 9142;
    settings.gatewayUser = "cassandra";
    settings.gatewayPassword = "cql-secret";
    settings.clusterName = "Test Cluster";
    settings.version = "4.0.11";
    for (int i = 1; i <= 3; ++i) {
      SNodeSettings node;
      node.address = "10.0.0." + std::to_string(i);
      node.dataCenter = "dc1";
      node.configDirectory = home_.Sub("cluster/node" + std::to_string(i) + "/conf");
      node.dataDirectories = home_.Sub("cluster/node" + std::to_string(i) + "/data");
      settings.nodes.push_back(node);
    }
    return settings;
  }

  uint64_t RegisterInstance(const SInstanceSettings& settings) {
    uint64_t id = 0;
    CQiError error = registration_.registerInstance(settings, id);
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
    return id;
  }

  uint64_t RegisterSubclient(const SSubclientSettings& settings) {
    uint64_t id = 0;
    CQiError error = registration_.registerSubclient(settings, id);
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
    return id;
  }

  TempDir home_;
  // The same directory as CSuiteStore::Default() once SetUp has run.
  CSuiteRegistration registration_{CSuiteStore(home_.Sub("central"))};
  uint64_t node1_ = 0, node2_ = 0, node3_ = 0;
};
