#pragma once

#include <cstddef>
#include <string>

// The suite's password cipher: AES-256-GCM (OpenSSL EVP) under a key of the
// suite. The encrypted text is printable: base64 of the 12-byte nonce, the
// cipher text and the 16-byte tag, so a password of n bytes takes
// 4 * ceil((n + 28) / 3) characters (512 bytes give 720). A text that was
// changed in any way fails to decrypt.
//
// The key is 32 random bytes made on first use and kept in the file
// <base>/keys/password.key (mode 0600, its folder 0700), where <base> is the
// registry value "Base"/dBASEHOME, or <suite home>/base when that is absent.
// The key belongs to the whole suite, not to one client, so a password
// encrypted for one simulated client decrypts on every other.
//
// Both operations take the text, an output buffer and its capacity in
// `length`; on success they write the result with a terminating NUL, set
// `length` to the bytes written (NUL excluded) and return non-zero. On
// failure they return 0 and leave `length` unchanged; a result that does
// not fit the capacity (including its NUL) is a failure.
class TQPassword {
 public:
  int encrypt(const char* text, char* buffer, unsigned int& length);
  int encrypt(const char* text, char* buffer, unsigned long& length);
  int encrypt(const char* text, char* buffer, int& length);
  int encrypt(const char* text, char* buffer, long& length);
  int decrypt(const char* text, char* buffer, unsigned int& length);
  int decrypt(const char* text, char* buffer, unsigned long& length);
  int decrypt(const char* text, char* buffer, int& length);
  int decrypt(const char* text, char* buffer, long& length);

  // The key file used by the calling thread's suite.
  static std::string KeyFilePath();

 private:
  static bool Encrypt(const char* text, char* buffer, size_t capacity, size_t& written);
  static bool Decrypt(const char* text, char* buffer, size_t capacity, size_t& written);
};
