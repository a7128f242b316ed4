#pragma once

#include <list>
#include <string>

#include "platform/framework/ValueTypes.h"

namespace TQDC_FileSystem {

// The restart string the framework keeps for a job that is resumed: one entry
// "-o <task number>|<offset>" per task that got anywhere, entries separated by
// a blank, where the offset is the task's commit offset or -1 for a task that
// is complete. Example: "-o 9|-1 -o 10|4096".
class CRestartString {
 public:
  static std::string Format(const std::list<RestartInfo>& entries);
  // Every "-o " starts an entry; blanks are ignored. An entry of exactly two
  // decimal fields separated by "|" is kept; anything else is skipped.
  static std::list<RestartInfo> Parse(const std::string& text);
};

}  // namespace TQDC_FileSystem
