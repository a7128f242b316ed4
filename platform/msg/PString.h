#pragma once

#include <string>

// Holder of a text with a virtual destructor.
class bstring {
 public:
  bstring() = default;
  explicit bstring(std::string s) : s_(std::move(s)) {}
  virtual ~bstring() = default;
  const std::string& str() const { return s_; }
  std::string& str() { return s_; }

 private:
  std::string s_;
};

// A protected-string (password) field of a message record. The stored text is
// the password encrypted with the suite's password cipher; its "plain" form is
// that stored text, still encrypted (decrypt it with TQPassword).
class pstring {
 public:
  pstring() = default;
  explicit pstring(std::string stored) : stored_(std::move(stored)) {}
  std::string getPlainPassword() const { return stored_; }
  void getPlainPassword(bstring& out) const { out.str() = stored_; }
  bool empty() const { return stored_.empty(); }

 private:
  std::string stored_;
};
