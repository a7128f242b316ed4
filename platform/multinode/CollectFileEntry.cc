#include "platform/multinode/CollectFileEntry.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/base/FXErrorUtil.h"

namespace MultiNodeBackupOps {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

CQiError Malformed(const FXCodeLocation& location, const std::string& line, const char* why) {
  return FXErrorUtil::ErrorWin32(location, 13, "Malformed collect file entry [%s]: %s",
                                 line.c_str(), why);
}

// A whole unsigned decimal number.
bool ParseUnsigned(const std::string& text, uint64_t& value) {
  if (text.empty() || text.size() > 20) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  errno = 0;
  unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
  if (errno == ERANGE) return false;
  value = v;
  return true;
}

// A whole signed decimal number.
bool ParseSigned(const std::string& text, int64_t& value) {
  if (text.empty()) return false;
  size_t start = text[0] == '-' ? 1 : 0;
  if (start == text.size() || text.size() > 20) return false;
  for (size_t i = start; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  errno = 0;
  long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE) return false;
  value = v;
  return true;
}

std::vector<std::string> SplitBar(const std::string& text) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    size_t bar = text.find('|', start);
    fields.push_back(
        text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return fields;
}

// Reads an item: a path, or the extent form. `line` is named in errors.
CQiError ParseItem(const std::string& item, const std::string& line, CCollectFileEntry& entry) {
  CCollectFileEntry parsed;
  const size_t extentPrefix = std::strlen(CCollectFileEntry::kExtentPrefix);
  if (item.compare(0, std::strlen(CCollectFileEntry::kContainerPrefix),
                   CCollectFileEntry::kContainerPrefix) == 0) {
    return Malformed(FXLOC, line, "container entries are not supported");
  }
  std::string encodedPath;
  if (item.compare(0, extentPrefix, CCollectFileEntry::kExtentPrefix) == 0) {
    std::vector<std::string> fields = SplitBar(item.substr(extentPrefix));
    if (fields.size() != 4) return Malformed(FXLOC, line, "an extent needs four fields");
    if (!ParseUnsigned(fields[0], parsed.extentOffset) ||
        !ParseUnsigned(fields[1], parsed.extentLength) ||
        !ParseUnsigned(fields[2], parsed.fileSize)) {
      return Malformed(FXLOC, line, "extent numbers are not decimal");
    }
    if (parsed.extentLength == 0) return Malformed(FXLOC, line, "empty extent");
    if (parsed.extentOffset > parsed.fileSize ||
        parsed.extentLength > parsed.fileSize - parsed.extentOffset) {
      return Malformed(FXLOC, line, "extent ends beyond its file");
    }
    parsed.isExtent = true;
    encodedPath = fields[3];
  } else {
    if (item.find('|') != std::string::npos) return Malformed(FXLOC, line, "stray \"|\"");
    encodedPath = item;
  }
  if (encodedPath.empty()) return Malformed(FXLOC, line, "empty path");
  CQiError error = CCollectFileEntry::DecodePath(encodedPath, parsed.path);
  if (error.IsError()) return error.Push(FXLOC);
  entry = parsed;
  return CQiError::Success();
}

}  // namespace

std::string CCollectFileEntry::EncodePath(const std::string& path) {
  bool plain = true;
  for (char c : path) plain = plain && c != '%' && c != '\n' && c != '\r' && c != '|';
  if (plain) return path;
  std::string out;
  out.reserve(path.size() + 8);
  for (char c : path) {
    switch (c) {
      case '%':
        out += "%25";
        break;
      case '\n':
        out += "%0A";
        break;
      case '\r':
        out += "%0D";
        break;
      case '|':
        out += "%7C";
        break;
      default:
        out += c;
    }
  }
  return out;
}

CQiError CCollectFileEntry::DecodePath(const std::string& text, std::string& path) {
  if (text.find('%') == std::string::npos) {
    path = text;
    return CQiError::Success();
  }
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    int high = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
    int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
    if (high < 0 || low < 0) {
      return FXErrorUtil::ErrorWin32(FXLOC, 13, "Malformed escape in collect file path [%s]",
                                     text.c_str());
    }
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  path = out;
  return CQiError::Success();
}

std::string CCollectFileEntry::FormatItem() const {
  if (!isExtent) return EncodePath(path);
  return std::string(kExtentPrefix) + std::to_string(extentOffset) + "|" +
         std::to_string(extentLength) + "|" + std::to_string(fileSize) + "|" + EncodePath(path);
}

std::string CCollectFileEntry::FormatFlatLine() const {
  return FormatItem() + "|" + std::to_string(static_cast<long long>(size));
}

std::string CCollectFileEntry::FormatNumberedLine() const { return FormatItem(); }

CQiError CCollectFileEntry::ParseFlatLine(const std::string& line, CCollectFileEntry& entry) {
  size_t bar = line.rfind('|');
  if (bar == std::string::npos) return Malformed(FXLOC, line, "no size");
  int64_t size = 0;
  if (!ParseSigned(line.substr(bar + 1), size)) return Malformed(FXLOC, line, "size not decimal");
  CCollectFileEntry parsed;
  CQiError error = ParseItem(line.substr(0, bar), line, parsed);
  if (error.IsError()) return error.Push(FXLOC);
  parsed.size = size;
  entry = parsed;
  return CQiError::Success();
}

CQiError CCollectFileEntry::ParseNumberedLine(const std::string& line, CCollectFileEntry& entry) {
  CCollectFileEntry parsed;
  CQiError error = ParseItem(line, line, parsed);
  if (error.IsError()) return error.Push(FXLOC);
  parsed.size = parsed.isExtent ? static_cast<int64_t>(parsed.extentLength) : 0;
  entry = parsed;
  return CQiError::Success();
}

}  // namespace MultiNodeBackupOps
