#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/msg/MessageCatalog.h"
#include "platform/msg/NMessageBase.h"

namespace {

// Record pairs of these tests: outside every namespace the system uses.
constexpr uint32_t kNs = 240;
constexpr uint32_t kOuter = 1;
constexpr uint32_t kInner = 2;
constexpr uint32_t kLeaf = 3;

CNMessageBase Leaf(const std::string& name, int64_t value) {
  CNMessageBase leaf(kNs, kLeaf);
  leaf.setstring(1, 1, name);
  leaf.setint64(2, 5, value);
  return leaf;
}

// A record with every field type: nested records two levels deep, a list of
// records, an empty list, a list of strings, a protected string and texts
// that need escaping.
CNMessageBase Sample() {
  CNMessageBase outer(kNs, kOuter);
  outer.setstring(1, 1, "plain");
  outer.setstring(2, 5, "<a & b> \"quoted\" 'single'\nsecond line\twith tab");
  outer.setstring(3, 6, "");
  outer.setstring(4, 10, "  padded  ");
  outer.setstring(5, 14, std::string("nul\0inside\r\n", 13));
  outer.setint64(6, 18, -9223372036854775807LL - 1);
  outer.setint64(7, 23, 4294967295LL);
  outer.setpstring(8, 27, "c2VjcmV0IHRleHQ=");

  CNMessageBase inner(kNs, kInner);
  inner.setstring(1, 1, "inner");
  inner.setObjectAccessor(2, 2, Leaf("deep", 7));
  inner.setlistobject(3, 6, {Leaf("a", 1), Leaf("b", 2)});
  outer.setObjectAccessor(9, 29, inner);

  outer.setlistobject(10, 37, {inner, inner});
  outer.getlistobject(11, 42, true);  // set, and empty
  outer.setliststring(12, 46, {"one", "", "  ", "three & <four>"});
  outer.getliststring(13, 47, true);  // set, and empty
  outer.setstring(14, 48, "unicode \xC3\xA9\xE2\x82\xAC");
  return outer;
}

std::string Xml(const CNMessageBase& record) {
  std::string xml;
  EXPECT_EQ(record.serialize(xml, false), 0);
  return xml;
}

// ---------------------------------------------------------------------------
// Field access

TEST(RecordFields, TypedAccessReadsWhatWasSet) {
  CNMessageBase r = Sample();
  EXPECT_EQ(r.getstring(1, 1), "plain");
  EXPECT_EQ(r.getstring(5, 14), std::string("nul\0inside\r\n", 13));
  EXPECT_EQ(r.getint64(18), -9223372036854775807LL - 1);
  EXPECT_EQ(r.getint64(23), 4294967295LL);
  EXPECT_EQ(r.getpstringobject(8, 27).getPlainPassword(), "c2VjcmV0IHRleHQ=");
  ASSERT_NE(r.getObjectAccessor(9, 29), nullptr);
  EXPECT_EQ(r.getObjectAccessor(9, 29)->getstring(1, 1), "inner");
  ASSERT_NE(r.getlistobject(10, 37), nullptr);
  EXPECT_EQ(r.getlistobject(10, 37)->size(), 2u);
  ASSERT_NE(r.getliststring(12, 46), nullptr);
  EXPECT_EQ(r.getliststring(12, 46)->at(3), "three & <four>");
}

TEST(RecordFields, Int64IsReadByIndexAlone) {
  CNMessageBase r(kNs, kOuter);
  r.setint64(2, 5, 42);
  r.setstring(3, 9, "not a number");
  EXPECT_EQ(r.getint64(5), 42);
  EXPECT_EQ(r.getint64(2), 0) << "the field number is not an index";
  EXPECT_EQ(r.getint64(9), 0) << "a string at that index is not an int64";
  EXPECT_EQ(r.getint64(77), 0);
}

TEST(RecordFields, UnsetAndOtherTypeReadAsEmpty) {
  CNMessageBase r(kNs, kOuter);
  r.setint64(1, 1, 5);
  EXPECT_EQ(r.getstring(1, 1), "");
  EXPECT_TRUE(r.getpstringobject(1, 1).empty());
  EXPECT_EQ(r.getObjectAccessor(1, 1), nullptr);
  EXPECT_EQ(r.getlistobject(1, 1), nullptr);
  EXPECT_EQ(r.getliststring(1, 1), nullptr);
  EXPECT_EQ(r.getstring(2, 2), "");
  EXPECT_FALSE(r.isSet(2));
}

TEST(RecordFields, IsSetCountsEmptyValues) {
  CNMessageBase r(kNs, kOuter);
  r.setstring(1, 1, "");
  r.getlistobject(2, 2, true);
  EXPECT_TRUE(r.isSet(1));
  EXPECT_TRUE(r.isSet(2));
  EXPECT_FALSE(r.isSet(3));
}

TEST(RecordFields, SettingAnotherTypeReplacesTheField) {
  CNMessageBase r(kNs, kOuter);
  r.setstring(1, 1, "text");
  r.setint64(1, 4, 9);
  EXPECT_EQ(r.getstring(1, 1), "");
  EXPECT_EQ(r.getint64(4), 9);
  EXPECT_EQ(r.getint64(1), 0) << "the field now carries index 4";
  CNMessageBase::FieldType type;
  int index = 0;
  ASSERT_TRUE(r.getFieldInfo(1, type, index));
  EXPECT_EQ(type, CNMessageBase::kInt64);
  EXPECT_EQ(index, 4);
}

TEST(RecordFields, ObjectAccessorCreatesOnlyWhenAsked) {
  CNMessageBase r(kNs, kOuter);
  EXPECT_EQ(r.getObjectAccessor(4, 4, false, kNs, kLeaf), nullptr);
  EXPECT_FALSE(r.isSet(4));
  CNMessageBase* created = r.getObjectAccessor(4, 4, true, kNs, kLeaf);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->getClassId(), kLeaf);
  created->setstring(1, 1, "written through");
  EXPECT_EQ(r.getObjectAccessor(4, 4)->getstring(1, 1), "written through");
  EXPECT_EQ(r.getObjectAccessor(4, 4, true, kNs, kLeaf), created) << "an existing one is reused";
}

TEST(RecordFields, SetObjectFromItsOwnNestedRecord) {
  CNMessageBase r = Sample();
  const CNMessageBase* inner = r.getObjectAccessor(9, 29);
  ASSERT_NE(inner, nullptr);
  // The value lives inside the field being replaced.
  r.setObjectAccessor(9, 29, *inner->getObjectAccessor(2, 2));
  ASSERT_NE(r.getObjectAccessor(9, 29), nullptr);
  EXPECT_EQ(r.getObjectAccessor(9, 29)->getstring(1, 1), "deep");

  const std::vector<CNMessageBase>* list = r.getlistobject(10, 37);
  r.setlistobject(10, 37, *list->front().getlistobject(3, 6));
  EXPECT_EQ(r.getlistobject(10, 37)->size(), 2u);
  EXPECT_EQ(r.getlistobject(10, 37)->front().getstring(1, 1), "a");
}

TEST(RecordFields, ListWriteAccessAppends) {
  CNMessageBase r(kNs, kOuter);
  r.getlistobject(3, 3, true)->push_back(Leaf("x", 1));
  r.getlistobject(3, 3, true)->push_back(Leaf("y", 2));
  r.getliststring(4, 4, true)->push_back("s");
  EXPECT_EQ(r.getlistobject(3, 3)->size(), 2u);
  EXPECT_EQ(r.getliststring(4, 4)->size(), 1u);
}

// ---------------------------------------------------------------------------
// Value semantics

TEST(RecordValue, CopiesAreDeep) {
  CNMessageBase original = Sample();
  CNMessageBase copy = original;
  EXPECT_EQ(copy, original);
  copy.getObjectAccessor(9, 29, true, kNs, kInner)
      ->getObjectAccessor(2, 2, true, kNs, kLeaf)
      ->setstring(1, 1, "changed");
  copy.getlistobject(10, 37, true)->front().setstring(1, 1, "changed too");
  EXPECT_NE(copy, original);
  EXPECT_EQ(original.getObjectAccessor(9, 29)->getObjectAccessor(2, 2)->getstring(1, 1), "deep");
  EXPECT_EQ(original.getlistobject(10, 37)->front().getstring(1, 1), "inner");

  CNMessageBase assigned(kNs, kLeaf);
  assigned = original;
  EXPECT_EQ(assigned, original);
  EXPECT_EQ(assigned.getClassId(), kOuter);
}

TEST(RecordValue, MoveLeavesAUsableSource) {
  CNMessageBase source = Sample();
  CNMessageBase target(std::move(source));
  EXPECT_EQ(target, Sample());
  source.reset();
  source.setstring(1, 1, "reused");
  EXPECT_EQ(source.getstring(1, 1), "reused");
}

TEST(RecordValue, EqualityComparesEverything) {
  const CNMessageBase base = Sample();
  struct Case {
    const char* what;
    void (*change)(CNMessageBase&);
  };
  const Case cases[] = {
      {"string value", [](CNMessageBase& r) { r.setstring(1, 1, "other"); }},
      {"field index", [](CNMessageBase& r) { r.setstring(1, 2, "plain"); }},
      {"field type", [](CNMessageBase& r) { r.setpstring(1, 1, "plain"); }},
      {"int value", [](CNMessageBase& r) { r.setint64(7, 23, 1); }},
      {"nested value",
       [](CNMessageBase& r) { r.getObjectAccessor(9, 29, true, 0, 0)->setstring(1, 1, "x"); }},
      {"list order",
       [](CNMessageBase& r) {
         auto* list = r.getObjectAccessor(9, 29, true, 0, 0)->getlistobject(3, 6, true);
         std::swap(list->front(), list->back());
       }},
      {"empty list removed", [](CNMessageBase& r) { r.setstring(11, 42, ""); }},
      {"extra field", [](CNMessageBase& r) { r.setstring(99, 99, ""); }},
  };
  for (const Case& c : cases) {
    CNMessageBase changed = base;
    c.change(changed);
    EXPECT_NE(changed, base) << c.what;
  }
  EXPECT_NE(CNMessageBase(kNs, kOuter), CNMessageBase(kNs, kInner));
  EXPECT_NE(CNMessageBase(kNs, kOuter), CNMessageBase(kNs + 1, kOuter));
  EXPECT_EQ(CNMessageBase(kNs, kOuter), CNMessageBase(kNs, kOuter));
}

TEST(RecordValue, ResetEmptiesButKeepsTheClass) {
  CNMessageBase r = Sample();
  r.reset();
  EXPECT_TRUE(r.fieldNumbers().empty());
  EXPECT_EQ(r, CNMessageBase(kNs, kOuter));
}

// ---------------------------------------------------------------------------
// Names and tags

TEST(RecordTags, HashOfTheShortClassName) {
  EXPECT_EQ(CMessageCatalog::TagFor(30, "CassandraNode"), 0x1EF777CAu);
  EXPECT_EQ(CMessageCatalog::TagFor(119, "CassandraCreateCollectFiles"), 0x77AAFA51u);
  EXPECT_EQ(CMessageCatalog::Hash24(""), 0u);
  EXPECT_EQ(CMessageCatalog::Hash24("a"), 97u);
  EXPECT_EQ(CMessageCatalog::Hash24("ab"), 97u * 31 + 98);
}

TEST(RecordTags, CatalogueTagWinsOverTheHash) {
  CMessageCatalog::Register(kNs, 50, "HashedRecord");
  CMessageCatalog::Register(kNs, 51, "FixedRecord", 0xF0123456u);
  EXPECT_EQ(CNMessageBase(kNs, 50).getTagID(), CMessageCatalog::TagFor(kNs, "HashedRecord"));
  EXPECT_EQ(CNMessageBase(kNs, 50).getTagName(), "HashedRecord");
  EXPECT_EQ(CNMessageBase(kNs, 51).getTagID(), 0xF0123456u);
  EXPECT_EQ(CNMessageBase(kNs, 51).getTagName(), "FixedRecord");
}

TEST(RecordTags, UnregisteredRecordsGetAGeneratedName) {
  CNMessageBase r(kNs, 999);
  EXPECT_FALSE(CMessageCatalog::IsRegistered(kNs, 999));
  EXPECT_EQ(r.getTagName(), "Record_240_999");
  EXPECT_EQ(r.getTagID(), CMessageCatalog::TagFor(kNs, "Record_240_999"));
}

// ---------------------------------------------------------------------------
// XML text

TEST(RecordXml, RoundTripKeepsEverything) {
  const CNMessageBase original = Sample();
  CNMessageBase read(kNs, kOuter);
  ASSERT_EQ(read.unserialize(Xml(original)), 0);
  EXPECT_EQ(read, original);
  EXPECT_TRUE(read.isSet(11)) << "an empty list that was set stays present";
  ASSERT_NE(read.getlistobject(11, 42), nullptr);
  EXPECT_TRUE(read.getlistobject(11, 42)->empty());
  ASSERT_NE(read.getliststring(13, 47), nullptr);
  EXPECT_TRUE(read.getliststring(13, 47)->empty());
  EXPECT_EQ(read.getpstringobject(8, 27).getPlainPassword(), "c2VjcmV0IHRleHQ=");
  EXPECT_EQ(read.getstring(4, 10), "  padded  ");
  EXPECT_EQ(read.getstring(5, 14), std::string("nul\0inside\r\n", 13));
  // The same text again from the NUL-terminated form.
  CNMessageBase again(kNs, kOuter);
  ASSERT_EQ(again.unserialize(Xml(original).c_str()), 0);
  EXPECT_EQ(again, original);
}

TEST(RecordXml, TextDescribesRecordsAndFields) {
  CMessageCatalog::Register(kNs, 60, "DescribedRecord");
  CNMessageBase r(kNs, 60);
  r.setstring(3, 7, "v");
  r.setint64(4, 8, -12);
  std::string xml = Xml(r);
  char tag[16];
  std::snprintf(tag, sizeof(tag), "0x%08X", CMessageCatalog::TagFor(kNs, "DescribedRecord"));
  EXPECT_NE(xml.find("<DescribedRecord ns=\"240\" class=\"60\" tag=\"" + std::string(tag) + "\">"),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("<f n=\"3\" i=\"7\" t=\"string\">v</f>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<f n=\"4\" i=\"8\" t=\"int64\">-12</f>"), std::string::npos) << xml;
}

TEST(RecordXml, ReadingReplacesEarlierFields) {
  CNMessageBase r = Sample();
  CNMessageBase small(kNs, kOuter);
  small.setstring(1, 1, "only");
  ASSERT_EQ(r.unserialize(Xml(small)), 0);
  EXPECT_EQ(r, small);
}

TEST(RecordXml, RejectsAnotherRecordAndLeavesTheRecordAlone) {
  const std::string innerXml = Xml(CNMessageBase(kNs, kInner));
  const std::string otherNs = Xml(CNMessageBase(kNs + 1, kOuter));
  for (const std::string& xml : {innerXml, otherNs}) {
    CNMessageBase r = Sample();
    EXPECT_EQ(r.unserialize(xml), CNMessageBase::kXmlOtherRecord) << xml;
    EXPECT_EQ(r, Sample());
  }
}

TEST(RecordXml, RejectsMalformedInput) {
  struct Case {
    std::string xml;
    int expected;
  };
  const std::string head = "<R ns=\"240\" class=\"1\">";
  const Case cases[] = {
      {"", CNMessageBase::kXmlMalformed},
      {"   ", CNMessageBase::kXmlMalformed},
      {"not xml at all", CNMessageBase::kXmlMalformed},
      {"<R ns=\"240\" class=\"1\">", CNMessageBase::kXmlMalformed},
      {head + "</R><R ns=\"240\" class=\"1\"/>", CNMessageBase::kXmlMalformed},
      {"<R class=\"1\"/>", CNMessageBase::kXmlNotARecord},
      {"<R ns=\"-240\" class=\"1\"/>", CNMessageBase::kXmlNotARecord},
      {"<R ns=\"240\" class=\"1x\"/>", CNMessageBase::kXmlNotARecord},
      {"<R ns=\"240\" class=\"99999999999\"/>", CNMessageBase::kXmlNotARecord},
      {head + "<g n=\"1\" i=\"1\" t=\"string\"/></R>", CNMessageBase::kXmlBadField},
      {head + "<f n=\"one\" i=\"1\" t=\"string\"/></R>", CNMessageBase::kXmlBadField},
      {head + "<f n=\"1\" t=\"string\"/></R>", CNMessageBase::kXmlBadField},
      {head + "<f n=\"1\" i=\"1\" t=\"float\"/></R>", CNMessageBase::kXmlBadField},
      {head + "<f n=\"1\" i=\"1\" t=\"int64\">12a</f></R>", CNMessageBase::kXmlBadField},
      {head + "<f n=\"1\" i=\"1\" t=\"int64\"></f></R>", CNMessageBase::kXmlBadField},
      {head + "<f n=\"1\" i=\"1\" t=\"int64\">99999999999999999999</f></R>",
       CNMessageBase::kXmlBadField},
      {head + "<f n=\"1\" i=\"1\" t=\"string\"/><f n=\"1\" i=\"2\" t=\"string\"/></R>",
       CNMessageBase::kXmlBadField},
      {head + "<f n=\"1\" i=\"1\" t=\"object\"/></R>", CNMessageBase::kXmlBadField},
      {head + "<f n=\"1\" i=\"1\" t=\"object\"><L ns=\"1\" class=\"1\"/><L ns=\"1\" class=\"1\"/>" +
           "</f></R>",
       CNMessageBase::kXmlBadField},
      {head + "<f n=\"1\" i=\"1\" t=\"list\"><L class=\"1\"/></f></R>",
       CNMessageBase::kXmlNotARecord},
      {head + "<f n=\"1\" i=\"1\" t=\"list\">text</f></R>", CNMessageBase::kXmlBadField},
      {head + "<f n=\"1\" i=\"1\" t=\"strings\"><x/></f></R>", CNMessageBase::kXmlBadField},
      {head + "<f n=\"1\" i=\"1\" t=\"string\" enc=\"hex\">abc</f></R>",
       CNMessageBase::kXmlBadField},
      {head + "<f n=\"1\" i=\"1\" t=\"string\" enc=\"hex\">zz</f></R>",
       CNMessageBase::kXmlBadField},
      {head + "<f n=\"1\" i=\"1\" t=\"string\" enc=\"rot13\">ab</f></R>",
       CNMessageBase::kXmlBadField},
      {head + "stray text</R>", CNMessageBase::kXmlBadField},
  };
  for (const Case& c : cases) {
    CNMessageBase r(kNs, kOuter);
    EXPECT_EQ(r.unserialize(c.xml), c.expected) << c.xml;
  }
  CNMessageBase r(kNs, kOuter);
  EXPECT_EQ(r.unserialize(static_cast<const char*>(nullptr)), CNMessageBase::kXmlMalformed);
}

TEST(RecordXml, AcceptsIndentedTextAndADeclaration) {
  const std::string xml =
      "<?xml version=\"1.0\"?>\n<R ns=\"240\" class=\"1\">\n  <f n=\"1\" i=\"1\" t=\"list\">\n"
      "    <L ns=\"240\" class=\"3\"/>\n  </f>\n  <f n=\"2\" i=\"2\" t=\"string\">  </f>\n</R>\n";
  CNMessageBase r(kNs, kOuter);
  ASSERT_EQ(r.unserialize(xml), 0);
  EXPECT_EQ(r.getlistobject(1, 1)->size(), 1u);
  EXPECT_EQ(r.getstring(2, 2), "  ");
}

// `depth` records, each nested in field 1 of the one above.
std::string NestedXml(int depth) {
  std::string xml;
  for (int i = 0; i < depth; ++i) {
    xml += "<R ns=\"240\" class=\"" + std::to_string(i == 0 ? kOuter : kInner) + "\">";
    if (i + 1 < depth) xml += "<f n=\"1\" i=\"1\" t=\"object\">";
  }
  for (int i = 0; i < depth; ++i) {
    if (i > 0) xml += "</f>";
    xml += "</R>";
  }
  return xml;
}

TEST(RecordXml, BoundsTheNesting) {
  CNMessageBase r(kNs, kOuter);
  EXPECT_EQ(r.unserialize(NestedXml(CNMessageBase::kMaxNesting)), 0);
  EXPECT_EQ(r.unserialize(NestedXml(CNMessageBase::kMaxNesting + 1)), CNMessageBase::kXmlTooDeep);
  // Far deeper than any stack would survive with unbounded recursion.
  EXPECT_EQ(r.unserialize(NestedXml(200000)), CNMessageBase::kXmlTooDeep);
  std::string elements;
  for (int i = 0; i < 200000; ++i) elements += "<a>";
  EXPECT_NE(r.unserialize(elements), 0);
}

TEST(RecordXml, SerializeRefusesRecordsNestedTooDeep) {
  CNMessageBase top(kNs, kOuter);
  CNMessageBase* current = &top;
  for (int i = 1; i < CNMessageBase::kMaxNesting; ++i) {
    current = current->getObjectAccessor(1, 1, true, kNs, kInner);
  }
  std::string xml;
  EXPECT_EQ(top.serialize(xml), 0);
  current->getObjectAccessor(1, 1, true, kNs, kInner);
  EXPECT_EQ(top.serialize(xml), CNMessageBase::kXmlTooDeep);
}

TEST(RecordXml, EveryTruncationFailsCleanly) {
  const std::string xml = Xml(Sample());
  for (size_t length = 0; length < xml.size(); ++length) {
    CNMessageBase r(kNs, kOuter);
    EXPECT_NE(r.unserialize(xml.substr(0, length)), 0) << "length " << length;
  }
}

// Random edits of a valid text: the reader must never crash, and whatever it
// accepts must write and read back unchanged.
TEST(RecordXml, RandomMutationsNeverCrash) {
  const std::string valid = Xml(Sample());
  const std::string fragments[] = {"<",        ">",     "/>",   "</f>",        "&amp;",
                                   "&#0;",     "&#x1;", "\"",   "<f n=\"1\">", "t=\"list\"",
                                   "ns=\"",    "]]>",   "<!--", "<![CDATA[",   "enc=\"hex\"",
                                   "\xff\xfe", "\0"};
  std::mt19937 random(20240611);
  int accepted = 0;
  for (int round = 0; round < 4000; ++round) {
    std::string xml = valid;
    int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits && !xml.empty(); ++e) {
      size_t at = random() % xml.size();
      switch (random() % 5) {
        case 0:
          xml[at] = static_cast<char>(random() % 256);
          break;
        case 1:
          xml.erase(at, 1 + random() % 16);
          break;
        case 2: {
          const std::string& fragment =
              fragments[random() % (sizeof(fragments) / sizeof(fragments[0]))];
          xml.insert(at, fragment.empty() ? std::string(1, '\0') : fragment);
          break;
        }
        case 3: {
          size_t from = random() % xml.size();
          xml.insert(at, xml.substr(from, 1 + random() % 64));
          break;
        }
        default:
          xml.resize(at);
          break;
      }
    }
    CNMessageBase r(kNs, kOuter);
    if (r.unserialize(xml) != 0) continue;
    ++accepted;
    std::string again;
    ASSERT_EQ(r.serialize(again), 0);
    CNMessageBase reread(kNs, kOuter);
    ASSERT_EQ(reread.unserialize(again), 0) << again;
    EXPECT_EQ(reread, r);
  }
  // Edits inside text values keep the text valid: some must be accepted.
  EXPECT_GT(accepted, 0);
}

}  // namespace
