#pragma once

#include <string>

namespace TQCassandra {

// `value` as one value of a Priam resource's query ("name?key=value&..."):
// letters, digits, "-._~" and the characters of `literal` go as they are,
// every other byte is percent-encoded, so that a name or path holding "&",
// "=", "#", "?", "%" or a blank can never add, cut or change a parameter.
std::string PriamQueryValue(const std::string& value, const char* literal = "");

}  // namespace TQCassandra
