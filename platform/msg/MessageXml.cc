#include "platform/msg/MessageXml.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <pugixml.hpp>
#include <sstream>

#include "platform/msg/NMessageBase.h"

namespace {

const char kFieldElement[] = "f";
const char kStringElement[] = "s";

struct TypeName {
  CNMessageBase::FieldType type;
  const char* name;
};
const TypeName kTypeNames[] = {
    {CNMessageBase::kString, "string"},   {CNMessageBase::kInt64, "int64"},
    {CNMessageBase::kPString, "pstring"}, {CNMessageBase::kObject, "object"},
    {CNMessageBase::kObjectList, "list"}, {CNMessageBase::kStringList, "strings"},
};

const char* NameOfType(CNMessageBase::FieldType type) {
  for (const TypeName& t : kTypeNames) {
    if (t.type == type) return t.name;
  }
  return "string";
}

bool TypeOfName(const char* name, CNMessageBase::FieldType& type) {
  for (const TypeName& t : kTypeNames) {
    if (std::strcmp(t.name, name) == 0) {
      type = t.type;
      return true;
    }
  }
  return false;
}

// An element name made of the class name's identifier characters.
std::string ElementName(const std::string& className) {
  std::string name;
  for (char c : className) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_') {
      name += c;
    }
  }
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) name.insert(0, "Record");
  return name;
}

// Texts with bytes that XML 1.0 cannot carry are written as hexadecimal.
bool NeedsHex(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 && c != '\t' && c != '\n') return true;
  }
  return false;
}

void WriteText(pugi::xml_node node, const std::string& text) {
  if (text.empty()) return;
  if (NeedsHex(text)) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(text.size() * 2);
    for (unsigned char c : text) {
      hex += kDigits[c >> 4];
      hex += kDigits[c & 0xF];
    }
    node.append_attribute("enc") = "hex";
    node.append_child(pugi::node_pcdata).set_value(hex.c_str());
    return;
  }
  node.append_child(pugi::node_pcdata).set_value(text.c_str());
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ReadText(pugi::xml_node node, std::string& text) {
  const char* raw = node.text().get();
  pugi::xml_attribute enc = node.attribute("enc");
  if (!enc) {
    text = raw;
    return true;
  }
  if (std::strcmp(enc.value(), "hex") != 0) return false;
  size_t length = std::strlen(raw);
  if (length % 2 != 0) return false;
  text.clear();
  text.reserve(length / 2);
  for (size_t i = 0; i < length; i += 2) {
    int high = HexValue(raw[i]);
    int low = HexValue(raw[i + 1]);
    if (high < 0 || low < 0) return false;
    text += static_cast<char>(high * 16 + low);
  }
  return true;
}

template <typename T>
bool ParseNumber(const char* text, T& value) {
  size_t length = std::strlen(text);
  if (length == 0) return false;
  auto result = std::from_chars(text, text + length, value);
  return result.ec == std::errc() && result.ptr == text + length;
}

bool IsBlank(const char* text) {
  for (; *text; ++text) {
    if (*text != ' ' && *text != '\t' && *text != '\n' && *text != '\r') return false;
  }
  return true;
}

}  // namespace

int CMessageXml::Write(const CNMessageBase& record, std::string& out) {
  pugi::xml_document doc;
  struct Walk {
    static int Record(pugi::xml_node parent, const CNMessageBase& r, int depth) {
      if (depth > CNMessageBase::kMaxNesting) return CNMessageBase::kXmlTooDeep;
      pugi::xml_node node = parent.append_child(ElementName(r.getTagName()).c_str());
      node.append_attribute("ns") = r.getNamespaceId();
      node.append_attribute("class") = r.getClassId();
      char tag[16];
      std::snprintf(tag, sizeof(tag), "0x%08X", r.getTagID());
      node.append_attribute("tag") = tag;
      for (const auto& entry : r.fields_) {
        const CNMessageBase::Field& f = entry.second;
        pugi::xml_node field = node.append_child(kFieldElement);
        field.append_attribute("n") = entry.first;
        field.append_attribute("i") = f.index;
        field.append_attribute("t") = NameOfType(f.type);
        switch (f.type) {
          case CNMessageBase::kString:
          case CNMessageBase::kPString:
            WriteText(field, f.text);
            break;
          case CNMessageBase::kInt64:
            field.text().set(static_cast<long long>(f.number));
            break;
          case CNMessageBase::kObject:
          case CNMessageBase::kObjectList:
            for (const CNMessageBase& nested : f.objects) {
              int rc = Record(field, nested, depth + 1);
              if (rc != CNMessageBase::kXmlOk) return rc;
            }
            break;
          case CNMessageBase::kStringList:
            for (const std::string& s : f.strings) WriteText(field.append_child(kStringElement), s);
            break;
        }
      }
      return CNMessageBase::kXmlOk;
    }
  };
  int rc = Walk::Record(doc, record, 1);
  if (rc != CNMessageBase::kXmlOk) return rc;
  std::ostringstream text;
  doc.save(text, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  out = text.str();
  return CNMessageBase::kXmlOk;
}

int CMessageXml::Read(const char* text, std::size_t length, CNMessageBase& record) {
  struct Walk {
    // Reads the fields of `node` into `r`, one by one.
    static int Fields(pugi::xml_node node, int depth, CNMessageBase& r) {
      for (pugi::xml_node child : node.children()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
          if (IsBlank(child.value())) continue;
          return CNMessageBase::kXmlBadField;
        }
        if (child.type() != pugi::node_element) continue;
        if (std::strcmp(child.name(), kFieldElement) != 0) return CNMessageBase::kXmlBadField;
        int number = 0;
        int index = 0;
        CNMessageBase::FieldType type;
        if (!ParseNumber(child.attribute("n").value(), number) ||
            !ParseNumber(child.attribute("i").value(), index) ||
            !TypeOfName(child.attribute("t").value(), type) || r.fields_.count(number) != 0) {
          return CNMessageBase::kXmlBadField;
        }
        CNMessageBase::Field f;
        f.type = type;
        f.index = index;
        int rc = Value(child, depth, f);
        if (rc != CNMessageBase::kXmlOk) return rc;
        r.fields_.emplace(number, std::move(f));
      }
      return CNMessageBase::kXmlOk;
    }

    static int Value(pugi::xml_node field, int depth, CNMessageBase::Field& f) {
      switch (f.type) {
        case CNMessageBase::kString:
        case CNMessageBase::kPString:
          return ReadText(field, f.text) ? CNMessageBase::kXmlOk : CNMessageBase::kXmlBadField;
        case CNMessageBase::kInt64: {
          long long value = 0;
          if (!ParseNumber(field.text().get(), value)) return CNMessageBase::kXmlBadField;
          f.number = value;
          return CNMessageBase::kXmlOk;
        }
        case CNMessageBase::kObject:
        case CNMessageBase::kObjectList:
          for (pugi::xml_node child : field.children()) {
            if (child.type() != pugi::node_element) {
              if (IsBlank(child.value())) continue;
              return CNMessageBase::kXmlBadField;
            }
            CNMessageBase nested(0, 0);
            int rc = Record(child, depth + 1, nested);
            if (rc != CNMessageBase::kXmlOk) return rc;
            f.objects.push_back(std::move(nested));
          }
          if (f.type == CNMessageBase::kObject && f.objects.size() != 1) {
            return CNMessageBase::kXmlBadField;
          }
          return CNMessageBase::kXmlOk;
        case CNMessageBase::kStringList:
          for (pugi::xml_node child : field.children()) {
            if (child.type() != pugi::node_element) {
              if (IsBlank(child.value())) continue;
              return CNMessageBase::kXmlBadField;
            }
            std::string s;
            if (std::strcmp(child.name(), kStringElement) != 0 || !ReadText(child, s)) {
              return CNMessageBase::kXmlBadField;
            }
            f.strings.push_back(std::move(s));
          }
          return CNMessageBase::kXmlOk;
      }
      return CNMessageBase::kXmlBadField;
    }

    // Reads a nested record of any namespace and class.
    static int Record(pugi::xml_node node, int depth, CNMessageBase& r) {
      if (depth > CNMessageBase::kMaxNesting) return CNMessageBase::kXmlTooDeep;
      uint32_t ns = 0;
      uint32_t cls = 0;
      if (!ParseNumber(node.attribute("ns").value(), ns) ||
          !ParseNumber(node.attribute("class").value(), cls)) {
        return CNMessageBase::kXmlNotARecord;
      }
      r = CNMessageBase(ns, cls);
      return Fields(node, depth, r);
    }
  };

  if (text == nullptr || length == 0) return CNMessageBase::kXmlMalformed;
  pugi::xml_document doc;
  // Whitespace-only texts are values too; line ends are kept as they are.
  unsigned int options = (pugi::parse_default | pugi::parse_ws_pcdata) & ~pugi::parse_eol;
  if (!doc.load_buffer(text, length, options, pugi::encoding_utf8)) {
    return CNMessageBase::kXmlMalformed;
  }
  pugi::xml_node root;
  for (pugi::xml_node child : doc.children()) {
    if (child.type() == pugi::node_element) {
      if (root) return CNMessageBase::kXmlMalformed;
      root = child;
    } else if (child.type() != pugi::node_declaration && !IsBlank(child.value())) {
      return CNMessageBase::kXmlMalformed;
    }
  }
  if (!root) return CNMessageBase::kXmlMalformed;
  uint32_t ns = 0;
  uint32_t cls = 0;
  if (!ParseNumber(root.attribute("ns").value(), ns) ||
      !ParseNumber(root.attribute("class").value(), cls)) {
    return CNMessageBase::kXmlNotARecord;
  }
  if (ns != record.getNamespaceId() || cls != record.getClassId()) {
    return CNMessageBase::kXmlOtherRecord;
  }
  record.reset();
  return Walk::Fields(root, 1, record);
}
