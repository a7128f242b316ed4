#pragma once

#include <cstdint>
#include <string>

#include "platform/base/QiError.h"
#include "platform/framework/Instance.h"
#include "platform/suite/SuiteRecordTypes.h"
#include "platform/suite/SuiteStore.h"

// A Cassandra cluster instance of the suite and the properties the suite keeps
// for it. The object reads the registered instance (CSuiteStore::Default())
// when it is made; the setters write through to the stored instance. Every
// getter of an instance that is not registered fails with Win32 1168 and
// leaves its output as it was.
class CassandraInstance : public DistributedClusterInstance {
 public:
  explicit CassandraInstance(uint64_t instanceId);

  // Whether the instance is registered.
  bool isValid() const { return found_; }

  // Cassandra's configuration file ("" when the instance names none). A
  // configuration location may be a file path as well as a directory: see
  // SInstanceRecord.
  CQiError getCassandraConfigFile(std::string& path) const;
  CQiError getJavaHome(std::string& path) const;
  CQiError getGatewayHost(std::string& host) const;
  CQiError getGatewayCQLPort(int& port) const;
  CQiError getGatewayUser(std::string& user) const;
  // The CQL password as stored: encrypted with the suite's password cipher.
  CQiError getGatewayPassword(std::string& encrypted) const;
  // XML text of the JMX connection record; "" for none.
  CQiError getJMXConfig(std::string& xml) const;
  // XML text of the authentication record; "" for none.
  CQiError getAuthConfig(std::string& xml) const;
  CQiError getEnableCommitLogBackup(bool& enabled) const;
  CQiError getCassArchiveLogPath(std::string& path) const;
  CQiError getCassArchiveCommand(std::string& command) const;
  CQiError getClusterName(std::string& name) const;
  CQiError getVersion(std::string& version) const;

  // Store the value on the registered instance.
  CQiError setClusterName(const std::string& name);
  CQiError setVersion(const std::string& version);

 private:
  CQiError NotFound(const FXCodeLocation& location) const;
  CQiError GetText(const std::string& value, std::string& out,
                   const FXCodeLocation& location) const;

  CSuiteStore store_;
  uint64_t requestedId_;
  SInstanceRecord record_;
  bool found_ = false;
};
