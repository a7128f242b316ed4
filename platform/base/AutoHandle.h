#pragma once

#include <unistd.h>

// Owns one file descriptor (-1 when none) and closes it when replaced or
// destroyed.
class auto_handle {
 public:
  auto_handle() = default;
  explicit auto_handle(int fd) : fd_(fd) {}
  ~auto_handle() { reset(-1); }
  auto_handle(const auto_handle&) = delete;
  auto_handle& operator=(const auto_handle&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

  // Closes the held descriptor when it is valid, then holds `fd`. Resetting
  // to the descriptor already held keeps it open (closing it would leave the
  // holder with a dead descriptor that it would close a second time).
  void reset(int fd = -1) {
    if (fd == fd_) return;
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};
