#pragma once

#include <cstddef>
#include <string>

// Standard base64 (RFC 4648 alphabet, "=" padding, no line breaks), by
// OpenSSL's codec.
std::string base64Encode(const std::string& bytes);
void base64Encode(const std::string& bytes, std::string& text);
void base64Encode(const char* text, std::string& encoded);
void base64Encode(const void* bytes, size_t length, std::string& text);

// Decodes standard base64 (padding required, no white space). Returns false
// and leaves `bytes` untouched for any other text.
bool base64Decode(const std::string& text, std::string& bytes);
