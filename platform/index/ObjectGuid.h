#pragma once

#include <string>

#include "platform/base/QiError.h"
#include "platform/base/QiString.h"

// The object GUID of an index path: a name-based GUID text
// ("XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", upper-case hex) derived from the
// path alone, so the same path always gives the same GUID, in every process.
// Runs of `separator` count as one, and a trailing separator is dropped
// (except for the root itself): "/ks/" and "/ks" name the same object.
// `flags` is reserved (pass 0). A null text is error 87 and leaves `out`.
CQiError GetObjectGuid(const char* text, int flags, char separator, std::string& out);
CQiError GetObjectGuid(const char* text, int flags, char separator, CQiString& out);
