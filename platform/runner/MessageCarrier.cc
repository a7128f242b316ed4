#include "platform/runner/MessageCarrier.h"

#include <boost/make_shared.hpp>
#include <cerrno>
#include <cstdlib>
#include <pugixml.hpp>

#include "platform/base/FXErrorUtil.h"
#include "platform/msg/MessageCatalog.h"

namespace TqRunner {

namespace {

bool ReadId(const char* text, uint32_t& value) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || end == nullptr || *end != '\0' || v > 0xFFFFFFFFull) return false;
  value = static_cast<uint32_t>(v);
  return true;
}

}  // namespace

CQiError CMessageCarrier::Serialize(const CNMessageBase& record, std::string& xml) {
  std::string text;
  int result = record.serialize(text);
  if (result != 0) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 13, "Failed to serialize message %s: error %d",
        CMessageCatalog::NameOf(record.getNamespaceId(), record.getClassId()).c_str(), result);
  }
  xml.swap(text);
  return CQiError::Success();
}

bool CMessageCarrier::PeekClass(const std::string& xml, uint32_t& ns, uint32_t& cls) {
  pugi::xml_document document;
  if (!document.load_buffer(xml.data(), xml.size(), pugi::parse_default)) return false;
  pugi::xml_node root = document.document_element();
  if (!root) return false;
  return ReadId(root.attribute("ns").value(), ns) && ReadId(root.attribute("class").value(), cls);
}

CQiError CMessageCarrier::Receive(const std::string& xml, FrameworkMessagePtr& record) {
  uint32_t ns = 0, cls = 0;
  if (!PeekClass(xml, ns, cls)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Received text is no message record");
  }
  if (!CMessageCatalog::IsRegistered(ns, cls)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Received message %s is not in the catalogue",
                                   CMessageCatalog::NameOf(ns, cls).c_str());
  }
  FrameworkMessagePtr made = boost::make_shared<CNMessageBase>(ns, cls);
  CQiError error = ReceiveInto(xml, *made);
  if (error.IsError()) return error.Push(FXLOC);
  record = made;
  return CQiError::Success();
}

CQiError CMessageCarrier::ReceiveInto(const std::string& xml, CNMessageBase& record) {
  int result = record.unserialize(xml);
  if (result != 0) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 13, "Failed to unserialize message %s: error %d",
        CMessageCatalog::NameOf(record.getNamespaceId(), record.getClassId()).c_str(), result);
  }
  return CQiError::Success();
}

}  // namespace TqRunner
