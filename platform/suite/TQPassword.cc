#include "platform/suite/TQPassword.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>

#include "platform/base/FXPath.h"
#include "platform/base/QiDirectory.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/Base64.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/PlatformInfo.h"

namespace {

constexpr size_t kKeySize = 32;
constexpr size_t kNonceSize = 12;
constexpr size_t kTagSize = 16;
// Bound to every cipher text, so texts made for another use never pass.
constexpr char kAssociatedData[] = "TQPassword/1";

using Key = std::array<unsigned char, kKeySize>;

struct CipherContextDeleter {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter>;

// Wipes a string's bytes before it is released.
struct Wiper {
  std::string& s;
  ~Wiper() {
    if (!s.empty()) OPENSSL_cleanse(&s[0], s.size());
  }
};

std::mutex& KeyMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<std::string, Key>& KeyCache() {
  static std::map<std::string, Key> cache;
  return cache;
}

// Reads the key at `path`. `missing` tells a missing file from a bad one.
bool ReadKey(const std::string& path, Key& key, bool& missing) {
  missing = false;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    int err = errno;
    missing = err == ENOENT;
    if (!missing) TQLOG(-1, "Failed to open the password key %s: %s", path.c_str(), strerror(err));
    return false;
  }
  unsigned char data[kKeySize + 1];
  size_t got = 0;
  while (got < sizeof data) {
    ssize_t n = ::read(fd, data + got, sizeof data - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  bool ok = got == kKeySize;
  if (ok) {
    std::memcpy(key.data(), data, kKeySize);
  } else {
    TQLOG(-1, "The password key %s is malformed (%zu bytes)", path.c_str(), got);
  }
  OPENSSL_cleanse(data, sizeof data);
  return ok;
}

// Makes a new key at `path`. The key is written to a private temporary file
// and linked into place, so two processes that race both keep the key that
// was linked first.
bool CreateKey(const std::string& path, Key& key) {
  std::string dir = path.substr(0, path.rfind('/'));
  CQiError error = CQiDirectory::Create(dir.c_str(), true);
  if (error.IsError()) {
    TQLOG(-1, "Failed to create the key folder %s: %s", dir.c_str(), error.AsString(2).c_str());
    return false;
  }
  ::chmod(dir.c_str(), 0700);
  Key fresh;
  if (RAND_bytes(fresh.data(), static_cast<int>(fresh.size())) != 1) {
    TQLOG(-1, "Failed to make a random password key");
    return false;
  }
  std::string temp = path + ".tmp." + std::to_string(getpid()) + "." +
                     std::to_string(std::hash<std::thread::id>()(std::this_thread::get_id()));
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    TQLOG(-1, "Failed to create the password key %s: %s", temp.c_str(), strerror(errno));
    OPENSSL_cleanse(fresh.data(), fresh.size());
    return false;
  }
  bool written = ::write(fd, fresh.data(), fresh.size()) == static_cast<ssize_t>(fresh.size()) &&
                 ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  bool linked = written && ::link(temp.c_str(), path.c_str()) == 0;
  int linkError = errno;
  ::unlink(temp.c_str());
  if (linked) {
    key = fresh;
    OPENSSL_cleanse(fresh.data(), fresh.size());
    return true;
  }
  OPENSSL_cleanse(fresh.data(), fresh.size());
  bool missing = false;
  if (written && linkError == EEXIST) return ReadKey(path, key, missing);
  TQLOG(-1, "Failed to store the password key %s", path.c_str());
  return false;
}

bool LoadKey(Key& key) {
  std::string path = TQPassword::KeyFilePath();
  std::lock_guard<std::mutex> lock(KeyMutex());
  auto it = KeyCache().find(path);
  if (it != KeyCache().end()) {
    key = it->second;
    return true;
  }
  bool missing = false;
  if (!ReadKey(path, key, missing) && !(missing && CreateKey(path, key))) return false;
  KeyCache()[path] = key;
  return true;
}

template <typename T>
int WithLength(bool (*op)(const char*, char*, size_t, size_t&), const char* text, char* buffer,
               T& length) {
  if constexpr (std::is_signed_v<T>) {
    if (length < 0) return 0;
  }
  size_t written = 0;
  if (!op(text, buffer, static_cast<size_t>(length), written)) return 0;
  length = static_cast<T>(written);
  return 1;
}

}  // namespace

std::string TQPassword::KeyFilePath() {
  std::string base;
  if (!TQPlatformInfo().getString("Base", "dBASEHOME", base) || base.empty())
    base = FXPath::Join(CClientContext::SuiteHome(), "base");
  return FXPath::Join(FXPath::Join(base, "keys"), "password.key");
}

bool TQPassword::Encrypt(const char* text, char* buffer, size_t capacity, size_t& written) {
  if (!text || !buffer) return false;
  size_t plainSize = std::strlen(text);
  if (plainSize > static_cast<size_t>(INT_MAX) - kNonceSize - kTagSize) return false;
  Key key;
  if (!LoadKey(key)) return false;
  std::string blob(kNonceSize + plainSize + kTagSize, '\0');
  Wiper wipeBlob{blob};
  unsigned char* nonce = reinterpret_cast<unsigned char*>(&blob[0]);
  unsigned char* cipher = nonce + kNonceSize;
  unsigned char* tag = cipher + plainSize;
  CipherContext ctx(EVP_CIPHER_CTX_new());
  int n = 0, final = 0;
  bool ok = ctx && RAND_bytes(nonce, kNonceSize) == 1 &&
            EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) == 1 &&
            EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key.data(), nonce) == 1 &&
            EVP_EncryptUpdate(ctx.get(), nullptr, &n,
                              reinterpret_cast<const unsigned char*>(kAssociatedData),
                              sizeof kAssociatedData - 1) == 1 &&
            EVP_EncryptUpdate(ctx.get(), cipher, &n, reinterpret_cast<const unsigned char*>(text),
                              static_cast<int>(plainSize)) == 1 &&
            EVP_EncryptFinal_ex(ctx.get(), cipher + n, &final) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagSize, tag) == 1;
  OPENSSL_cleanse(key.data(), key.size());
  if (!ok) {
    TQLOG(-1, "Password encryption failed");
    return false;
  }
  std::string encoded;
  base64Encode(blob, encoded);
  if (encoded.size() + 1 > capacity) {
    TQLOG(-1, "The encrypted password needs %zu bytes; the buffer holds %zu", encoded.size() + 1,
          capacity);
    return false;
  }
  std::memcpy(buffer, encoded.c_str(), encoded.size() + 1);
  written = encoded.size();
  return true;
}

bool TQPassword::Decrypt(const char* text, char* buffer, size_t capacity, size_t& written) {
  if (!text || !buffer) return false;
  std::string blob;
  Wiper wipeBlob{blob};
  if (!base64Decode(text, blob) || blob.size() < kNonceSize + kTagSize) {
    TQLOG(-1, "The encrypted password is malformed");
    return false;
  }
  size_t plainSize = blob.size() - kNonceSize - kTagSize;
  if (plainSize + 1 > capacity) {
    TQLOG(-1, "The password needs %zu bytes; the buffer holds %zu", plainSize + 1, capacity);
    return false;
  }
  Key key;
  if (!LoadKey(key)) return false;
  unsigned char* nonce = reinterpret_cast<unsigned char*>(&blob[0]);
  unsigned char* cipher = nonce + kNonceSize;
  unsigned char* tag = cipher + plainSize;
  std::string plain(plainSize + 1, '\0');
  Wiper wipePlain{plain};
  unsigned char* out = reinterpret_cast<unsigned char*>(&plain[0]);
  CipherContext ctx(EVP_CIPHER_CTX_new());
  int n = 0, final = 0;
  bool ok = ctx &&
            EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) == 1 &&
            EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, key.data(), nonce) == 1 &&
            EVP_DecryptUpdate(ctx.get(), nullptr, &n,
                              reinterpret_cast<const unsigned char*>(kAssociatedData),
                              sizeof kAssociatedData - 1) == 1 &&
            EVP_DecryptUpdate(ctx.get(), out, &n, cipher, static_cast<int>(plainSize)) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagSize, tag) == 1 &&
            EVP_DecryptFinal_ex(ctx.get(), out + n, &final) == 1;
  OPENSSL_cleanse(key.data(), key.size());
  if (!ok) {
    TQLOG(-1, "Password decryption failed: the text is not a valid encrypted password");
    return false;
  }
  std::memcpy(buffer, plain.data(), plainSize);
  buffer[plainSize] = '\0';
  written = plainSize;
  return true;
}

int TQPassword::encrypt(const char* text, char* buffer, unsigned int& length) {
  return WithLength(&TQPassword::Encrypt, text, buffer, length);
}
int TQPassword::encrypt(const char* text, char* buffer, unsigned long& length) {
  return WithLength(&TQPassword::Encrypt, text, buffer, length);
}
int TQPassword::encrypt(const char* text, char* buffer, int& length) {
  return WithLength(&TQPassword::Encrypt, text, buffer, length);
}
int TQPassword::encrypt(const char* text, char* buffer, long& length) {
  return WithLength(&TQPassword::Encrypt, text, buffer, length);
}
int TQPassword::decrypt(const char* text, char* buffer, unsigned int& length) {
  return WithLength(&TQPassword::Decrypt, text, buffer, length);
}
int TQPassword::decrypt(const char* text, char* buffer, unsigned long& length) {
  return WithLength(&TQPassword::Decrypt, text, buffer, length);
}
int TQPassword::decrypt(const char* text, char* buffer, int& length) {
  return WithLength(&TQPassword::Decrypt, text, buffer, length);
}
int TQPassword::decrypt(const char* text, char* buffer, long& length) {
  return WithLength(&TQPassword::Decrypt, text, buffer, length);
}
