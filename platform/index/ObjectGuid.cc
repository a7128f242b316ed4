#include "platform/index/ObjectGuid.h"

#include <openssl/evp.h>

#include <cstdio>

#include "platform/base/FXErrorUtil.h"

namespace {

std::string Normalise(const char* text, char separator) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    if (*p == separator && !out.empty() && out.back() == separator) continue;
    out.push_back(*p);
  }
  if (out.size() > 1 && out.back() == separator) out.pop_back();
  return out;
}

}  // namespace

CQiError GetObjectGuid(const char* text, int /*flags*/, char separator, std::string& out) {
  if (!text) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No text to make an object GUID of");
  std::string name = "tq-index-object:" + Normalise(text, separator);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(name.data(), name.size(), digest, &length, EVP_sha256(), nullptr) != 1 ||
      length < 16) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "Failed to make the object GUID of %s", text);
  }
  // Shaped as a name-based GUID: version 5 and the RFC 4122 variant bits.
  digest[6] = static_cast<unsigned char>((digest[6] & 0x0F) | 0x50);
  digest[8] = static_cast<unsigned char>((digest[8] & 0x3F) | 0x80);
  char buffer[40];
  std::snprintf(buffer, sizeof(buffer),
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", digest[0],
                digest[1], digest[2], digest[3], digest[4], digest[5], digest[6], digest[7],
                digest[8], digest[9], digest[10], digest[11], digest[12], digest[13], digest[14],
                digest[15]);
  out = buffer;
  return CQiError::Success();
}

CQiError GetObjectGuid(const char* text, int flags, char separator, CQiString& out) {
  std::string guid;
  CQiError error = GetObjectGuid(text, flags, separator, guid);
  if (error.IsError()) return error;
  out = guid;
  return CQiError::Success();
}
