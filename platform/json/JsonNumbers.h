#pragma once

// Checked reading of whole numbers from nlohmann::json documents that this
// system stores (job records, share records). A stored file can be damaged or
// edited by hand; a number out of its field's range is refused, never
// converted (a float-to-integer conversion out of range is undefined).

#include <cmath>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace TqJson {

// The value of member `key` of `j` as a `T`. Only a whole number that `T`
// holds is taken: a JSON integer in range, or a finite number without a
// fraction in range (such as 5.0). Anything else (1e300, 2^63 for a signed
// field, a negative number for an unsigned one, 1.5, a text) is refused
// with an exception that names the member, rather than converted.
template <typename T>
inline T IntegerAt(const nlohmann::json& j, const char* key) {
  static_assert(std::is_integral<T>::value && !std::is_same<T, bool>::value, "an integer type");
  using Limits = std::numeric_limits<T>;
  const nlohmann::json& value = j.at(key);
  if (value.is_number_unsigned()) {
    const uint64_t n = value.get<uint64_t>();
    if (n <= static_cast<uint64_t>(Limits::max())) return static_cast<T>(n);
  } else if (value.is_number_integer()) {
    const int64_t n = value.get<int64_t>();
    if constexpr (std::is_signed<T>::value) {
      if (n >= static_cast<int64_t>(Limits::min()) && n <= static_cast<int64_t>(Limits::max())) {
        return static_cast<T>(n);
      }
    } else {
      if (n >= 0 && static_cast<uint64_t>(n) <= static_cast<uint64_t>(Limits::max())) {
        return static_cast<T>(n);
      }
    }
  } else if (value.is_number_float()) {
    const double d = value.get<double>();
    // T's range as doubles: [-2^digits, 2^digits) for a signed T, [0,
    // 2^digits) for an unsigned one; both bounds are exact.
    const double upper = std::ldexp(1.0, Limits::digits);
    const double lower = std::is_signed<T>::value ? -upper : 0.0;
    if (std::isfinite(d) && d == std::trunc(d) && d >= lower && d < upper) {
      return static_cast<T>(d);
    }
  }
  throw std::out_of_range("\"" + std::string(key) + "\" is " + value.dump() +
                          ", not a whole number from " + std::to_string(Limits::min()) + " to " +
                          std::to_string(Limits::max()));
}

}  // namespace TqJson
