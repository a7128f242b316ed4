#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/QiError.h"

namespace TqHarness {

// Words for what the plug-in and the platform report as numbers: the texts of
// the job events the plug-in raises, with their arguments, and errors as a
// user reads them (the message, the system's text of an errno, an event's
// text; no code locations).
class CErrorText {
 public:
  // "Commit log backup is not configured at the instance level"; an id the
  // catalogue does not know gives "event 0x<id>". Arguments follow after
  // ": ", separated by ", ".
  static std::string Event(uint32_t id, const std::vector<std::string>& args = {});
  // What a user can do about the event, "" when nothing in particular
  // ("register the instance again with --commit-log").
  static std::string Advice(uint32_t id);
  // The error in words: its message, then the system's text for an errno
  // ("Cannot open x: No such file or directory") or the event's text.
  static std::string Describe(const CQiError& error);
  // A text made from an error's code form (a phase's message: "The
  // coordinator did not start: [event 0x600046C]") in words: events by their
  // text and arguments, errno values by the system's text, Win32 codes and
  // code locations left out. `events` gets the ids of the events named.
  static std::string Readable(const std::string& text, std::vector<uint32_t>* events = nullptr);
};

}  // namespace TqHarness
