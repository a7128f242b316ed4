#pragma once

#include "platform/framework/FSRestoreController.h"

namespace TQDC_FileSystem {

// The framework's ready-made restore-by-job node controller.
class CFSRestoreByJobController : public CFSRestoreController {
 public:
  CFSRestoreByJobController() = default;
};

}  // namespace TQDC_FileSystem
