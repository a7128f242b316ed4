#pragma once

#include "platform/framework/ClientConfig.h"

namespace TQDC_FileSystem {

// Configuration of a file-system agent job phase.
class CFSClientConfig : public DistributedQEL::CClientConfig {
 public:
  explicit CFSClientConfig(int kind = 1) : CClientConfig(kind) {}
  // Reads the agent's registry settings; nothing to read by default.
  virtual CQiError readResgistryParams() { return CQiError::Success(); }
};
typedef boost::shared_ptr<CFSClientConfig> CFSClientConfigPtr;

}  // namespace TQDC_FileSystem
