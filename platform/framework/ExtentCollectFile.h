#pragma once

// The extent settings and the extent pass live with the collect-file
// machinery.
#include "platform/multinode/ExtentCollectFile.h"
