#include "platform/base/TQFile.h"

#include <cerrno>
#include <cstring>

#include "platform/base/FXErrorUtil.h"

CQiError TQFile::open(const char* path, const char* mode) {
  close();
  if (!path || !mode) return FXErrorUtil::ErrorErrNo(FXLOC, EINVAL, "Null path or mode");
  std::string m(mode);
  if (m.find('e') == std::string::npos) m += 'e';
  file_ = std::fopen(path, m.c_str());
  if (!file_) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to open %s", path);
  }
  return CQiError::Success();
}

void TQFile::close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

bool TQFile::getLine(char* buffer, size_t size) {
  if (!file_ || !buffer || size == 0) return false;
  if (size == 1) {
    buffer[0] = '\0';
    return false;
  }
  size_t n = 0;
  int c = EOF;
  while (n + 1 < size && (c = std::fgetc(file_)) != EOF && c != '\n')
    buffer[n++] = static_cast<char>(c);
  buffer[n] = '\0';
  if (n == 0 && c == EOF) return false;
  if (n + 1 == size && c != '\n' && c != EOF) {
    // The buffer filled up: a line end right after it belongs to this line.
    int next = std::fgetc(file_);
    if (next == '\n') {
      c = next;
    } else if (next != EOF) {
      std::ungetc(next, file_);
    }
  }
  if (c == '\n' && n && buffer[n - 1] == '\r') buffer[--n] = '\0';
  return true;
}

bool TQFile::getLine(std::string& line) {
  if (!file_) return false;
  line.clear();
  int c = EOF;
  bool any = false;
  while ((c = std::fgetc(file_)) != EOF) {
    any = true;
    if (c == '\n') break;
    line.push_back(static_cast<char>(c));
  }
  if (!any) return false;
  if (c == '\n' && !line.empty() && line.back() == '\r') line.pop_back();
  return true;
}
