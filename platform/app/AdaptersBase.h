#pragma once

#include <string>

// Base of the suite's request adapters: keeps the text of the last failure.
class AdaptersBase {
 public:
  virtual ~AdaptersBase() = default;

  // Why the adapter's last call failed; "" after a success.
  std::string getErrorString() const { return errorString_; }

 protected:
  void setErrorString(const std::string& text) { errorString_ = text; }

 private:
  std::string errorString_;
};
