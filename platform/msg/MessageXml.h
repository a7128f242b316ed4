#pragma once

#include <cstddef>
#include <string>

class CNMessageBase;

// The XML text form of message records (pugixml). A record is one element
// named after its class, with the attributes "ns", "class" and "tag"; each
// field is an element <f n="number" i="index" t="type"> holding its value:
// text for "string", "pstring" and "int64", one record element for "object",
// record elements for "list" and <s> elements for "strings". A text that XML
// cannot carry (NUL or other control bytes) is written as hexadecimal digits
// with the attribute enc="hex".
class CMessageXml {
 public:
  // Record to text; CNMessageBase::kXmlOk or an XmlResult.
  static int Write(const CNMessageBase& record, std::string& out);
  // Text to record: the text must hold a record of the record's namespace and
  // class. Fields read before a fault stay in the record.
  static int Read(const char* text, std::size_t length, CNMessageBase& record);
};
