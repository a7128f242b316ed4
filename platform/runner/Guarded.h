#pragma once

#include <exception>
#include <string>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/QiError.h"

namespace TqRunner {

// Runs a call into plug-in code, which answers CQiError. An exception that
// the call lets out (the JSON getters throw on a value of the wrong type)
// becomes error 1359 naming `what`, so that it ends that call and not the
// runner's thread.
template <class F>
CQiError Guarded(const char* what, F&& call) {
  try {
    return call();
  } catch (const std::exception& e) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "%s threw an exception: %s", what, e.what());
  } catch (...) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "%s threw an exception", what);
  }
}

}  // namespace TqRunner
