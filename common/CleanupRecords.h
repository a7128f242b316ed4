#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/msg/NMessageBase.h"

// The post-backup cleanup's node parameters, sent in its node start payload.
namespace DistributedQEL {

class CassandraPostOpParams : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 76;
  CassandraPostOpParams() : CNMessageBase(kNamespaceId, kClassId) {}

  // The name under which the controller keeps the node's Priam.
  std::string getNodeName() const { return getstring(1, 1); }
  void setNodeName(const std::string& v) { setstring(1, 1, v); }
  std::string getJavaHome() const { return getstring(2, 2); }
  void setJavaHome(const std::string& v) { setstring(2, 2, v); }
  std::string getConfigDirectory() const { return getstring(3, 3); }
  void setConfigDirectory(const std::string& v) { setstring(3, 3, v); }
};

class CassandraPostOpParamsList : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 78;
  CassandraPostOpParamsList() : CNMessageBase(kNamespaceId, kClassId) {}

  std::vector<CassandraPostOpParams> getParams() const {
    return getListAs<CassandraPostOpParams>(1, 1);
  }
  void setParams(const std::vector<CassandraPostOpParams>& v) { setListOf(1, 1, v); }
};

}  // namespace DistributedQEL
