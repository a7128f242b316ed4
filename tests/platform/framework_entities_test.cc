// Subclient and instance callbacks over the property and content caches.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/framework/ApplBackupContent.h"
#include "platform/framework/ApplProperties.h"
#include "platform/framework/Instance.h"
#include "platform/framework/Subclient.h"

namespace {

TEST(ApplProperties, AddKeepsEveryPairWithItsLengths) {
  ApplProperties cache;
  EXPECT_EQ(cache.addToPropCache("name", 4, "value", 5), 0);
  EXPECT_EQ(cache.addToPropCache("name", 4, "second", 6), 0);
  // Lengths decide, not terminators: embedded NUL and a cut-off value.
  const char withNul[] = {'a', '\0', 'b'};
  EXPECT_EQ(cache.addToPropCache("bin", 3, withNul, 3), 0);
  EXPECT_EQ(cache.addToPropCache("cutXYZ", 3, "abcdef", 2), 0);
  std::string value;
  ASSERT_TRUE(cache.getProperty("name", value));
  EXPECT_EQ(value, "value");
  EXPECT_EQ(cache.getPropertyValues("name"), (std::vector<std::string>{"value", "second"}));
  ASSERT_TRUE(cache.getProperty("bin", value));
  EXPECT_EQ(value, std::string(withNul, 3));
  ASSERT_TRUE(cache.getProperty("cut", value));
  EXPECT_EQ(value, "ab");
  EXPECT_EQ(cache.addToPropCache("empty", 5, nullptr, 0), 0);
  ASSERT_TRUE(cache.getProperty("empty", value));
  EXPECT_EQ(value, "");
}

TEST(ApplProperties, RefusesBadPairsAndKeepsNothingOfThem) {
  ApplProperties cache;
  EXPECT_EQ(cache.addToPropCache(nullptr, 3, "v", 1), -1);
  EXPECT_EQ(cache.addToPropCache("n", 0, "v", 1), -1);
  EXPECT_EQ(cache.addToPropCache("n", -1, "v", 1), -1);
  EXPECT_EQ(cache.addToPropCache("n", 1, "v", -1), -1);
  EXPECT_EQ(cache.addToPropCache("n", 1, nullptr, 4), -1);
  EXPECT_TRUE(cache.getPropCache().empty());
}

TEST(ApplProperties, UpdateReplacesTheFirstOrAppends) {
  ApplProperties cache;
  cache.addToPropCache("a", 1, "1", 1);
  cache.addToPropCache("a", 1, "2", 1);
  EXPECT_EQ(cache.updatePropCache(ApplProperty{"a", "9"}), 0);
  EXPECT_EQ(cache.getPropertyValues("a"), (std::vector<std::string>{"9", "2"}));
  EXPECT_EQ(cache.updatePropCache(ApplProperty{"b", "x"}), 0);
  EXPECT_EQ(cache.getPropertyValues("b"), (std::vector<std::string>{"x"}));
  EXPECT_EQ(cache.updatePropCache(ApplProperty{"", "x"}), -1);
  EXPECT_EQ(cache.getPropCache().size(), 3u);
}

TEST(ApplBackupContent, CacheByIdAndCaseFlag) {
  ApplBackupContent content;
  EXPECT_EQ(content.getContentCaseSensitive(), 1);
  EXPECT_EQ(content.addToContentCache(2, "KS1"), 0);
  EXPECT_EQ(content.addToContentCache(2, "ks2"), 0);
  EXPECT_EQ(content.addToContentCache(1, "ks3"), 0);
  EXPECT_EQ(content.addToContentCache(1, nullptr), -1);
  EXPECT_EQ(content.getContent(2), (std::vector<std::string>{"KS1", "ks2"}));
  EXPECT_EQ(content.getContentIds(), (std::vector<int>{1, 2}));
  EXPECT_TRUE(content.getContent(5).empty());
  EXPECT_TRUE(content.hasContent("KS1"));
  EXPECT_FALSE(content.hasContent("ks1"));
  content.setContentCaseInsensitive();
  EXPECT_EQ(content.getContentCaseSensitive(), 0);
  EXPECT_TRUE(content.hasContent("ks1"));
  EXPECT_FALSE(content.hasContent("ks"));
  content.setContentCaseSensitive();
  EXPECT_EQ(content.getContentCaseSensitive(), 1);
  EXPECT_FALSE(content.hasContent("ks1"));
}

TEST(SubclientCallbacks, FillThePropertyAndContentCaches) {
  Subclient subclient;
  EXPECT_EQ(subclient.initAll(nullptr), 0);
  subclient.resetAll();
  EXPECT_EQ(subclient.getPropertiesCallback("p", 1, "v1", 2), 0);
  EXPECT_EQ(subclient.getPropertiesCallbackUpdate("p", 1, "v2", 2, 77), 0);
  EXPECT_EQ(subclient.getPropertiesCallbackUpdate("q", 1, "w", 1, 0), 0);
  EXPECT_EQ(subclient.getPropertiesCallback(nullptr, 1, "x", 1), -1);
  EXPECT_EQ(subclient.getPropertiesCallbackUpdate("q", -1, "w", 1, 0), -1);
  EXPECT_EQ(subclient.getPropertyValues("p"), (std::vector<std::string>{"v2"}));
  EXPECT_EQ(subclient.getPropertyValues("q"), (std::vector<std::string>{"w"}));

  subclient.initContentCallback(3, "content");
  EXPECT_EQ(subclient.getContentCache().getContent(3), (std::vector<std::string>{"content"}));
  subclient.SetCaseSensitive(false);
  EXPECT_EQ(subclient.getContentCache().getContentCaseSensitive(), 0);
  subclient.SetCaseSensitive(true);
  EXPECT_EQ(subclient.getContentCache().getContentCaseSensitive(), 1);
}

TEST(InstanceCallbacks, InitAllLoadsContentAndCallbacksFillCaches) {
  struct Recorder : DistributedClusterInstance {
    int initContent(void* context, bool loadContent, bool refresh) override {
      calls.push_back({context, loadContent, refresh});
      return 5;
    }
    struct Call {
      void* context;
      bool load, refresh;
    };
    std::vector<Call> calls;
  } instance;
  int context = 0;
  EXPECT_EQ(instance.initAll(&context), 5);
  ASSERT_EQ(instance.calls.size(), 1u);
  EXPECT_EQ(instance.calls[0].context, &context);
  EXPECT_TRUE(instance.calls[0].load);
  EXPECT_FALSE(instance.calls[0].refresh);

  Instance plain;
  EXPECT_EQ(plain.initAll(nullptr), 0);
  EXPECT_EQ(plain.getPropertiesCallback("a", 1, "b", 1), 0);
  EXPECT_EQ(plain.getPropertiesCallbackUpdate("a", 1, "c", 1, 1), 0);
  EXPECT_EQ(plain.getPropertyValues("a"), (std::vector<std::string>{"c"}));
  plain.initContentCallback(1, "x");
  plain.SetCaseSensitive(false);
  EXPECT_EQ(plain.getContentCache().getContent(1), (std::vector<std::string>{"x"}));
  EXPECT_EQ(plain.getContentCache().getContentCaseSensitive(), 0);
}

}  // namespace
