#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/json/TqJson.h"

namespace {

using TqJson::Array;
using TqJson::Object;
using TqJson::Value;

// A "getMeta" reply of Priam: keyspaces with replication and tables.
const char kMetaReply[] = R"([
  {"KEYSPACE": "shop", "SCHEMA": "CREATE KEYSPACE shop ...",
   "REPLICATION": {"class": "org.apache.cassandra.locator.NetworkTopologyStrategy", "dc1": "3"},
   "Tables": [{"COLUMNSPACE": "orders", "ID": "5bc52802-de25-35ed-aeab-188eecebb090",
               "ENCRYPTED": false},
              "not an object",
              {"COLUMNSPACE": "items", "ID": "x", "ENCRYPTED": true,
               "EncyptionOptions": {"key_file": "system_key", "strength": 128}}]},
  42,
  {"KEYSPACE": "system", "REPLICATION": {"class": "LocalStrategy"}}
])";

TEST(JsonParse, WalksAPriamReply) {
  Array keyspaces;
  ASSERT_TRUE(TqJson::Unserialize(kMetaReply, keyspaces));
  ASSERT_EQ(keyspaces.size(), 3u);
  EXPECT_FALSE(keyspaces[1].isObject());

  const Object& shop = keyspaces[0].getObject();
  EXPECT_EQ(TqJson::GetStringValue(shop, "KEYSPACE"), "shop");
  Object replication;
  ASSERT_TRUE(TqJson::FindObjectValue(shop, "REPLICATION", replication));
  EXPECT_EQ(TqJson::GetStringValue(replication, "class"),
            "org.apache.cassandra.locator.NetworkTopologyStrategy");
  // Members come in ascending name order.
  ASSERT_EQ(replication.size(), 2u);
  EXPECT_EQ(replication.begin()->first, "class");

  Array tables;
  ASSERT_TRUE(TqJson::FindArrayValue(shop, "Tables", tables));
  ASSERT_EQ(tables.size(), 3u);
  EXPECT_FALSE(TqJson::GetBoolValue(tables[0].getObject(), "ENCRYPTED"));
  EXPECT_TRUE(tables[1].isString());
  const Object& items = tables[2].getObject();
  EXPECT_TRUE(TqJson::GetBoolValue(items, "ENCRYPTED"));
  Object options;
  ASSERT_TRUE(TqJson::FindObjectValue(items, "EncyptionOptions", options));
  EXPECT_EQ(TqJson::GetIntValue(options, "strength"), 128);

  const Object& system = keyspaces[2].getObject();
  EXPECT_FALSE(TqJson::FindArrayValue(system, "Tables", tables));
  EXPECT_TRUE(tables.empty()) << "a member not found empties the output";
}

TEST(JsonParse, ReadsEveryKindOfValue) {
  Value v;
  ASSERT_TRUE(TqJson::Unserialize(
      R"({"s": "caf\u00e9", "t": true, "n": null, "i": -7, "r": 2.5, "big": 18446744073709551615,
          "a": [1, [2]], "o": {}})",
      v));
  const Object& o = v.getObject();
  EXPECT_EQ(o.at("s").getStr(), "caf\xC3\xA9");
  EXPECT_TRUE(o.at("t").getBool());
  EXPECT_TRUE(o.at("n").isNull());
  EXPECT_EQ(o.at("i").getInt64(), -7);
  EXPECT_DOUBLE_EQ(o.at("i").getReal(), -7.0);
  EXPECT_DOUBLE_EQ(o.at("r").getReal(), 2.5);
  EXPECT_TRUE(o.at("big").isReal()) << "beyond int64: kept as a real";
  EXPECT_EQ(o.at("a").getArray()[1].getArray()[0].getInt(), 2);
  EXPECT_TRUE(o.at("o").getObject().empty());
}

TEST(JsonParse, RepeatedNameKeepsTheLastValue) {
  Object o;
  ASSERT_TRUE(TqJson::Unserialize(R"({"a": "first", "a": "second"})", o));
  EXPECT_EQ(TqJson::GetStringValue(o, "a"), "second");
}

TEST(JsonParse, InvalidTextFailsWithoutThrowing) {
  const std::string cases[] = {
      "",           "   ",
      "[",          "{\"a\":}",
      "[1,]",       "[] trailing",
      "{'a':1}",    "[\"\\x\"]",
      "tru",        "[1 2]",
      "{\"a\" 1}",  "\"unterminated",
      "nul",        "[\"\xff\xfe\"]",
      "/* c */ []", std::string("[\0]", 3),
  };
  for (const std::string& text : cases) {
    Value v(true);
    Array a{Value(1)};
    Object o{{"k", Value(1)}};
    EXPECT_NO_THROW({
      EXPECT_FALSE(TqJson::Unserialize(text, v)) << text;
      EXPECT_FALSE(TqJson::Unserialize(text, a)) << text;
      EXPECT_FALSE(TqJson::Unserialize(text, o)) << text;
    });
    EXPECT_TRUE(v.isNull());
    EXPECT_TRUE(a.empty()) << "a failed parse still replaces the output";
    EXPECT_TRUE(o.empty());
  }
}

TEST(JsonParse, OutputOfTheWrongKindFails) {
  Array a{Value(1)};
  EXPECT_FALSE(TqJson::Unserialize("{\"a\": 1}", a));
  EXPECT_TRUE(a.empty());
  Object o{{"k", Value(1)}};
  EXPECT_FALSE(TqJson::Unserialize("[1]", o));
  EXPECT_TRUE(o.empty());
}

TEST(JsonParse, ReplacesTheArrayItFills) {
  Array mounts;
  ASSERT_TRUE(TqJson::Unserialize(R"([{"Source": "/a"}, {"Source": "/b"}])", mounts));
  ASSERT_TRUE(TqJson::Unserialize(R"([{"Source": "/c"}])", mounts));
  ASSERT_EQ(mounts.size(), 1u);
  EXPECT_EQ(TqJson::GetStringValue(mounts[0].getObject(), "Source"), "/c");
}

TEST(JsonParse, BoundsTheNesting) {
  auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  Value v;
  EXPECT_TRUE(TqJson::Unserialize(nested(TqJson::kMaxDepth), v));
  EXPECT_FALSE(TqJson::Unserialize(nested(TqJson::kMaxDepth + 1), v));
  EXPECT_FALSE(TqJson::Unserialize(nested(500000), v));
  EXPECT_FALSE(TqJson::Unserialize(std::string(500000, '['), v));
}

TEST(JsonGetters, AbsentMembersReadAsEmpty) {
  const Object empty;
  EXPECT_EQ(TqJson::GetStringValue(empty, "x"), "");
  EXPECT_FALSE(TqJson::GetBoolValue(empty, "x"));
  EXPECT_EQ(TqJson::GetIntValue(empty, "x"), 0);
  EXPECT_EQ(TqJson::GetInt64Value(empty, "x"), 0);
  Value out(true);
  EXPECT_FALSE(TqJson::FindValue(empty, "x", out));
  Object object{{"k", Value(1)}};
  EXPECT_FALSE(TqJson::FindObjectValue(empty, "x", object));
  EXPECT_TRUE(object.empty());
}

TEST(JsonGetters, WrongTypeRaisesRuntimeError) {
  Object o;
  ASSERT_TRUE(TqJson::Unserialize(
      R"({"num": 1, "str": "true", "obj": {}, "arr": [], "nul": null, "real": 1.5,
          "huge": 4294967296})",
      o));
  Object object;
  Array array;
  EXPECT_THROW(TqJson::GetStringValue(o, "num"), std::runtime_error);
  EXPECT_THROW(TqJson::GetStringValue(o, "nul"), std::runtime_error);
  EXPECT_THROW(TqJson::GetBoolValue(o, "str"), std::runtime_error);
  EXPECT_THROW(TqJson::GetIntValue(o, "str"), std::runtime_error);
  EXPECT_THROW(TqJson::GetIntValue(o, "real"), std::runtime_error);
  EXPECT_THROW(TqJson::GetIntValue(o, "huge"), std::runtime_error);
  EXPECT_EQ(TqJson::GetInt64Value(o, "huge"), 4294967296LL);
  EXPECT_THROW(TqJson::FindObjectValue(o, "arr", object), std::runtime_error);
  EXPECT_THROW(TqJson::FindArrayValue(o, "obj", array), std::runtime_error);
  EXPECT_THROW(o.at("str").getArray(), std::runtime_error);
  EXPECT_THROW(o.at("arr").getObject(), std::runtime_error);
  EXPECT_THROW(o.at("obj").getReal(), std::runtime_error);
}

TEST(JsonValue, CopiesCompareEqual) {
  Value a;
  ASSERT_TRUE(TqJson::Unserialize(kMetaReply, a));
  Value b = a;
  EXPECT_EQ(a, b);
  Value c;
  ASSERT_TRUE(TqJson::Unserialize("[1]", c));
  EXPECT_NE(a, c);
  EXPECT_NE(Value(1), Value(1.0));
  EXPECT_EQ(Value("x"), Value(std::string("x")));
}

}  // namespace
