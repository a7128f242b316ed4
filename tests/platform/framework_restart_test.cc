// The restart string of a resumed job.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/framework/RestartString.h"

using TQDC_FileSystem::CRestartString;
using TQDC_FileSystem::RestartInfo;

namespace {

std::vector<std::pair<int, int64_t>> Entries(const std::string& text) {
  std::vector<std::pair<int, int64_t>> list;
  for (const auto& e : CRestartString::Parse(text)) list.emplace_back(e.taskId, e.offset);
  return list;
}

TEST(RestartString, ReadsEntriesAndSkipsMalformedOnes) {
  struct Case {
    std::string text;
    std::vector<std::pair<int, int64_t>> entries;
  };
  const std::vector<Case> cases = {
      {"-o 9|-1 -o 10|4096", {{9, -1}, {10, 4096}}},
      {"-o 9|-1|7 -o 10|0", {{10, 0}}},
      {"-o 9 | 12", {{9, 12}}},
      {"", {}},
      {"-o x|1 -o 3|y -o |5 -o 4|", {}},
      {"-o 99999999999|1 -o 5|99999999999999999999", {}},
      {"junk -o 2|3", {{2, 3}}},
  };
  for (const auto& c : cases) EXPECT_EQ(Entries(c.text), c.entries) << c.text;
}

TEST(RestartString, WritesWhatItReads) {
  std::list<RestartInfo> entries;
  entries.push_back(RestartInfo{9, -1});
  entries.push_back(RestartInfo{10, 4096});
  std::string text = CRestartString::Format(entries);
  EXPECT_EQ(text, "-o 9|-1 -o 10|4096");
  EXPECT_EQ(Entries(text), (std::vector<std::pair<int, int64_t>>{{9, -1}, {10, 4096}}));
  EXPECT_EQ(CRestartString::Format({}), "");
}

}  // namespace
