#pragma once

#include <boost/shared_ptr.hpp>

namespace TQDC_FileSystem {

// How the framework makes restore tasks from the restore records.
class CTaskCreatePolicy {
 public:
  virtual ~CTaskCreatePolicy() = default;
};
typedef boost::shared_ptr<CTaskCreatePolicy> CTaskCreatePolicyPtr;

// How the framework assigns restore tasks to streams.
class CTaskAssignPolicy {
 public:
  virtual ~CTaskAssignPolicy() = default;
};
typedef boost::shared_ptr<CTaskAssignPolicy> CTaskAssignPolicyPtr;

}  // namespace TQDC_FileSystem
