#include "platform/index/Sha256.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

CSha256::CSha256() : context_(EVP_MD_CTX_new()) {
  EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(context_), EVP_sha256(), nullptr);
}

CSha256::~CSha256() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context_)); }

void CSha256::Update(const void* data, size_t length) {
  if (length) EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context_), data, length);
}

std::string CSha256::FinishHex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_MD_CTX* context = static_cast<EVP_MD_CTX*>(context_);
  EVP_DigestFinal_ex(context, digest, &length);
  EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 0x0F]);
  }
  return hex;
}

bool CSha256::OfFileRange(int fd, size_t offset, size_t length, std::string& hex) {
  CSha256 digest;
  std::vector<char> buffer(1 << 20);
  size_t done = 0;
  while (done < length) {
    size_t want = std::min(buffer.size(), length - done);
    ssize_t got = pread(fd, buffer.data(), want, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    digest.Update(buffer.data(), static_cast<size_t>(got));
    done += static_cast<size_t>(got);
  }
  hex = digest.FinishHex();
  return true;
}
