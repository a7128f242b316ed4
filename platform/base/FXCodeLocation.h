#pragma once

// A place in the source: file, full function signature and line. The texts are
// kept by address (they are string literals of the call site), not copied.
class FXCodeLocation {
 public:
  FXCodeLocation(const char* file, const char* function, int line)
      : file_(file), function_(function), line_(line) {}

  const char* file() const { return file_; }
  const char* function() const { return function_; }
  int line() const { return line_; }

 private:
  const char* file_;
  const char* function_;
  int line_;
};

// The location of the call site.
#define FXLOC FXCodeLocation(__FILE__, __PRETTY_FUNCTION__, __LINE__)
