#include "tools/lib/ErrorText.h"

#include <cstdio>
#include <cstring>
#include <regex>

namespace TqHarness {

namespace {

struct EventText {
  uint32_t id;
  const char* text;
  const char* advice;
};

// The job events of the plug-in.
const EventText kEvents[] = {
    {0x600001E, "The DSE configuration file cannot be read", ""},
    {0x60003D1, "The backup of a keyspace failed", ""},
    {0x60003D2, "A node's controller sent no details of its backup", ""},
    {0x60003D3, "A request to Priam failed", ""},
    {0x60003D4, "Priam could not be started", ""},
    {0x60003D7, "Not every incremental file backed up could be removed", ""},
    {0x60003D8, "Keyspaces were backed up in full", ""},
    {0x60003D9, "The incremental backup was converted to a full backup", ""},
    {0x60003DB, "A node was left out of the job", ""},
    {0x60003E7, "Incremental backups are not enabled on the node", ""},
    {0x60003EC, "Commit-log archiving was configured on the node", ""},
    {0x60003ED, "A node was not restarted", ""},
    {0x60003F2, "A schema statement failed", ""},
    {0x6000469, "The job failed", ""},
    {0x600046A, "Commit-log archiving could not be configured", ""},
    {0x600046B, "The commit-log replay failed", ""},
    {0x600046C, "Commit log backup is not configured at the instance level",
     "enable it with \"register --commit-log\""},
    {0x600046D, "A share could not be deleted", ""},
    {0x600046E, "The subclient has no content to back up", ""},
    {0x600046F, "The DSE system key cannot be read", ""},
    {0x6000470, "A mount folder could not be deleted", ""},
    {0x6000471, "A folder could not be unmounted", ""},
    {0x6000472, "A table could not be reloaded", ""},
    {0x6000474, "A folder could not be mounted", ""},
    {0x6000475, "The media agent cannot stage data for this restore", ""},
    {0x6000478, "A password cannot be decrypted", ""},
    {0x6000479, "The subclient's settings cannot be read", ""},
    {0x6000485, "Priam refused access: check the JMX and CQL credentials", ""},
    {0x600048D, "The owner of restored files could not be set", ""},
    {0x0D000101, "An SSTable was left out of the restore", ""},
};

const EventText* Find(uint32_t id) {
  for (const EventText& event : kEvents) {
    if (event.id == id) return &event;
  }
  return nullptr;
}

// Texts of the Win32 codes the platform and the harness use.
const char* Win32Text(uint32_t code) {
  switch (code) {
    case 2:
      return "not found";
    case 5:
      return "access denied";
    case 13:
      return "invalid data";
    case 29:
      return "write fault";
    case 32:
      return "in use";
    case 87:
      return "invalid parameter";
    case 112:
      return "not enough space on the disk";
    case 183:
      return "already exists";
  }
  return nullptr;
}

}  // namespace

std::string CErrorText::Event(uint32_t id, const std::vector<std::string>& args) {
  std::string text;
  if (const EventText* event = Find(id)) {
    text = event->text;
  } else {
    char number[32];
    std::snprintf(number, sizeof number, "event 0x%X", id);
    text = number;
  }
  for (size_t i = 0; i < args.size(); ++i) text += (i == 0 ? ": " : ", ") + args[i];
  return text;
}

std::string CErrorText::Advice(uint32_t id) {
  const EventText* event = Find(id);
  return event ? event->advice : "";
}

std::string CErrorText::Describe(const CQiError& error) {
  if (!error.IsError()) return "success";
  std::string message = error.GetMessage();
  std::string detail;
  switch (error.GetFacility()) {
    case CQiError::kErrNo:
      detail = std::strerror(static_cast<int>(error.GetValue()));
      break;
    case CQiError::kEvent: {
      // The event's arguments are its text's; a message of its own comes
      // first.
      const std::string event = Event(error.GetValue(), error.GetEventArgs());
      if (message.empty()) return event;
      return message + ": " + event;
    }
    default:
      if (message.empty()) {
        const char* text = Win32Text(error.GetValue());
        char number[48];
        std::snprintf(number, sizeof number, "error %u%s%s", error.GetValue(), text ? ", " : "",
                      text ? text : "");
        return number;
      }
      return message;
  }
  if (message.empty()) return detail;
  return message + ": " + detail;
}

std::string CErrorText::Readable(const std::string& text, std::vector<uint32_t>* events) {
  static const std::regex kCode(R"(\[(Win32|errno|event) 0x([0-9A-Fa-f]+)\] ?)");
  std::string input = text.substr(0, text.find("\n  at "));
  std::string out;
  std::smatch match;
  while (std::regex_search(input, match, kCode)) {
    out += match.prefix().str();
    std::string rest = match.suffix().str();
    const uint32_t value = static_cast<uint32_t>(std::stoul(match[2].str(), nullptr, 16));
    if (match[1] == "event") {
      // The event's arguments follow as " [arg]" each.
      std::vector<std::string> args;
      size_t at = 0;
      while (at < rest.size() && rest[at] == ' ' && at + 1 < rest.size() && rest[at + 1] == '[') {
        const size_t end = rest.find(']', at);
        if (end == std::string::npos) break;
        args.push_back(rest.substr(at + 2, end - at - 2));
        at = end + 1;
      }
      if (at == 0 && !rest.empty() && rest[0] == '[') {
        const size_t end = rest.find(']');
        if (end != std::string::npos) {
          args.push_back(rest.substr(1, end - 1));
          at = end + 1;
        }
      }
      out += Event(value, args);
      if (events) events->push_back(value);
      rest = rest.substr(at);
    } else if (match[1] == "errno") {
      // "[errno 0x2] Cannot open x" reads "Cannot open x: No such file or directory".
      const size_t end = rest.find('\n');
      out += rest.substr(0, end) + ": " + std::strerror(static_cast<int>(value));
      rest = end == std::string::npos ? std::string() : rest.substr(end);
    }
    input = rest;
  }
  return out + input;
}

}  // namespace TqHarness
