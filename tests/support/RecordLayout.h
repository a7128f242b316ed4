#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/msg/NMessageBase.h"

namespace record_test {

// One field as the record must hold it.
struct FieldLayout {
  int number;
  int index;
  CNMessageBase::FieldType type;
};

constexpr CNMessageBase::FieldType S = CNMessageBase::kString;
constexpr CNMessageBase::FieldType I = CNMessageBase::kInt64;
constexpr CNMessageBase::FieldType P = CNMessageBase::kPString;
constexpr CNMessageBase::FieldType O = CNMessageBase::kObject;
constexpr CNMessageBase::FieldType L = CNMessageBase::kObjectList;
constexpr CNMessageBase::FieldType LS = CNMessageBase::kStringList;

// Expects `record` (filled through its named setters) to hold exactly the
// given fields with their indexes and types, and to come back equal from its
// XML text read into a fresh record of its class. Returns the record read.
template <class R>
R ExpectLayout(const R& record, std::vector<FieldLayout> expected) {
  SCOPED_TRACE(record.getTagName());
  std::sort(expected.begin(), expected.end(),
            [](const FieldLayout& a, const FieldLayout& b) { return a.number < b.number; });
  std::vector<int> numbers;
  for (const FieldLayout& f : expected) numbers.push_back(f.number);
  EXPECT_EQ(record.fieldNumbers(), numbers);
  for (const FieldLayout& f : expected) {
    CNMessageBase::FieldType type;
    int index = -1;
    if (!record.getFieldInfo(f.number, type, index)) continue;
    EXPECT_EQ(index, f.index) << "index of field " << f.number;
    EXPECT_EQ(type, f.type) << "type of field " << f.number;
  }
  std::string xml;
  EXPECT_EQ(record.serialize(xml, false), 0);
  R read;
  EXPECT_EQ(read.unserialize(xml), 0) << xml;
  EXPECT_EQ(read, record) << xml;
  return read;
}

}  // namespace record_test
