#include "platform/suite/Base64.h"

#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

void base64Encode(const void* bytes, size_t length, std::string& text) {
  // EVP_EncodeBlock takes an int length; encode in chunks that are a
  // multiple of 3 bytes so that no padding appears inside the text.
  const unsigned char* in = static_cast<const unsigned char*>(bytes);
  std::string out;
  out.reserve((length + 2) / 3 * 4);
  const size_t chunk = 3 * 1024 * 1024;
  // Room for one encoded chunk (or the whole text when it is shorter) and
  // the terminator EVP_EncodeBlock writes.
  std::vector<unsigned char> buffer((std::min(chunk, length) + 2) / 3 * 4 + 1);
  for (size_t done = 0; done < length; done += chunk) {
    size_t n = length - done < chunk ? length - done : chunk;
    int written = EVP_EncodeBlock(buffer.data(), in + done, static_cast<int>(n));
    out.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(written));
  }
  text.swap(out);
}

void base64Encode(const std::string& bytes, std::string& text) {
  base64Encode(bytes.data(), bytes.size(), text);
}

void base64Encode(const char* text, std::string& encoded) {
  base64Encode(text ? text : "", text ? std::strlen(text) : 0, encoded);
}

std::string base64Encode(const std::string& bytes) {
  std::string text;
  base64Encode(bytes, text);
  return text;
}

bool base64Decode(const std::string& text, std::string& bytes) {
  if (text.size() % 4 != 0 || text.size() > static_cast<size_t>(INT_MAX)) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '+' || c == '/';
    // "=" only as the last one or two characters.
    bool padding = c == '=' && i + 2 >= text.size() && (i + 1 == text.size() || text.back() == '=');
    if (!alphabet && !padding) return false;
  }
  if (text.empty()) {
    bytes.clear();
    return true;
  }
  std::vector<unsigned char> out(text.size() / 4 * 3 + 1);
  int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int>(text.size()));
  if (n < 0) return false;
  // EVP_DecodeBlock counts the bytes that the padding stands for.
  size_t pad = text.back() == '=' ? (text[text.size() - 2] == '=' ? 2 : 1) : 0;
  bytes.assign(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(n) - pad);
  return true;
}
