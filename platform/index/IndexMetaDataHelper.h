#pragma once

#include <cstdint>
#include <string>

// Metadata id of the Cassandra file type of an index item (a 32-bit integer).
constexpr uint32_t INDEXINGDATA_CASSANDRA_FILE_TYPE = 0x7E2929A9;

// Encoding of the extra metadata values that an item carries to the index.
// Numbers are encoded as their decimal text, texts unchanged; a null value
// encodes as "".
class IndexMetaDataHelper {
 public:
  static std::string encodeData(uint32_t metadataId, const int32_t* value);
  static std::string encodeData(uint32_t metadataId, const uint32_t* value);
  static std::string encodeData(uint32_t metadataId, const int64_t* value);
  static std::string encodeData(uint32_t metadataId, const uint64_t* value);
  static std::string encodeData(uint32_t metadataId, const char* value);

  // The number an encoded text holds; false when it holds none (the whole
  // text must be a decimal number, optionally signed).
  static bool decodeData(const std::string& text, int64_t& value);
};
