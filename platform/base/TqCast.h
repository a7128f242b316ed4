#pragma once

// Casts for printf-style formats.
namespace tqcast {

// The argument as the type that "%lld" expects.
inline long long lld(long value) { return static_cast<long long>(value); }

}  // namespace tqcast
