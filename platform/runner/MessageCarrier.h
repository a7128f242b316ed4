#pragma once

#include <string>

#include "platform/base/QiError.h"
#include "platform/framework/FrameworkTypes.h"
#include "platform/msg/NMessageBase.h"

namespace TqRunner {

// How the runner carries a message between a coordinator and its node
// controllers: as XML text, as it would travel on a network. The sender's
// record is serialised; the receiver gets a new record made from the
// catalogue by the (namespace, class) of the text's root element and filled
// from the text. Every failure is error 13 with a message naming the record.
class CMessageCarrier {
 public:
  // Record to XML text.
  static CQiError Serialize(const CNMessageBase& record, std::string& xml);
  // XML text to a new record. The pair must be registered in the catalogue:
  // a receiver knows only the records of its catalogue.
  static CQiError Receive(const std::string& xml, FrameworkMessagePtr& record);
  // XML text into `record`, which must be of the text's namespace and class.
  static CQiError ReceiveInto(const std::string& xml, CNMessageBase& record);
  // The (namespace, class) that the text's root element names; false when the
  // text is no record.
  static bool PeekClass(const std::string& xml, uint32_t& ns, uint32_t& cls);
};

}  // namespace TqRunner
