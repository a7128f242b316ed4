#include "platform/framework/ProgramArguments.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "platform/base/FXErrorUtil.h"

namespace {

bool IsOptionToken(const CProgramArguments::Token& t) {
  return !t.quoted && t.text.size() >= 2 && t.text[0] == '-' &&
         std::isalpha(static_cast<unsigned char>(t.text[1]));
}

bool NeedsQuotes(const std::string& text) {
  if (text.empty()) return true;
  // A value that looks like an option name must be quoted to stay a value.
  if (text[0] == '-' && text.size() >= 2 && std::isalpha(static_cast<unsigned char>(text[1])))
    return true;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '"' || c == '\n' || c == '\r') return true;
  }
  return false;
}

// The line that reads back as these tokens: option names as they are, every
// other token quoted where needed.
std::string MakeLine(const std::vector<CProgramArguments::Token>& tokens) {
  std::string line;
  for (const auto& t : tokens) {
    if (!line.empty()) line += ' ';
    line += IsOptionToken(t) ? t.text : CProgramArguments::Quote(t.text);
  }
  return line;
}

}  // namespace

CProgramArguments::CProgramArguments(int argc, const char* const* argv) {
  std::vector<Token> tokens;
  for (int i = 0; i < argc; ++i) tokens.push_back(Token{argv[i] ? argv[i] : "", false});
  Build(tokens);
  line_ = MakeLine(tokens);
}

CProgramArguments::CProgramArguments(const std::vector<std::string>& tokens) {
  std::vector<Token> list;
  for (const auto& t : tokens) list.push_back(Token{t, false});
  Build(list);
  line_ = MakeLine(list);
}

CQiError CProgramArguments::Parse(const std::string& line, CProgramArgumentsPtr& out) {
  std::vector<Token> tokens;
  size_t i = 0;
  const size_t n = line.size();
  while (i < n) {
    while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\n' || line[i] == '\r')) ++i;
    if (i >= n) break;
    Token token;
    bool inToken = true;
    while (inToken && i < n) {
      char c = line[i];
      if (c == '"') {
        token.quoted = true;
        ++i;
        bool closed = false;
        while (i < n) {
          char q = line[i];
          if (q == '\\' && i + 1 < n && (line[i + 1] == '"' || line[i + 1] == '\\')) {
            token.text += line[i + 1];
            i += 2;
          } else if (q == '"') {
            ++i;
            closed = true;
            break;
          } else {
            token.text += q;
            ++i;
          }
        }
        if (!closed) {
          return FXErrorUtil::ErrorWin32(FXLOC, 87, "Unterminated quote in argument line: %s",
                                         line.c_str());
        }
      } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
        inToken = false;
      } else {
        token.text += c;
        ++i;
      }
    }
    tokens.push_back(token);
  }
  auto args = boost::shared_ptr<CProgramArguments>(new CProgramArguments());
  args->Build(tokens);
  args->line_ = line;
  out = args;
  return CQiError::Success();
}

void CProgramArguments::Build(const std::vector<Token>& tokens) {
  tokens_ = tokens;
  options_.clear();
  flags_.clear();
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (IsOptionToken(tokens[i])) {
      Option option;
      option.name = tokens[i].text.substr(1);
      if (i + 1 < tokens.size() && !IsOptionToken(tokens[i + 1])) {
        option.value = tokens[i + 1].text;
        option.hasValue = true;
        ++i;
      }
      options_.push_back(option);
    } else {
      flags_.push_back(tokens[i].text);
    }
  }
}

std::vector<std::string> CProgramArguments::getArguments() const {
  std::vector<std::string> list;
  for (const auto& t : tokens_) list.push_back(t.text);
  return list;
}

const CProgramArguments::Option* CProgramArguments::Find(const std::string& name) const {
  const Option* found = nullptr;
  for (const auto& o : options_) {
    if (o.name == name) found = &o;
  }
  return found;
}

bool CProgramArguments::hasOption(const std::string& name) const { return Find(name) != nullptr; }

CQiError CProgramArguments::getStringValue(const std::string& name, std::string& value) const {
  const Option* o = Find(name);
  if (!o) return FXErrorUtil::ErrorWin32(FXLOC, 259, "Argument -%s not found", name.c_str());
  if (!o->hasValue)
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Argument -%s has no value", name.c_str());
  value = o->value;
  return CQiError::Success();
}

CQiError CProgramArguments::getNumberValue(const std::string& name, int64_t& value) const {
  std::string text;
  CQiError error = getStringValue(name, text);
  if (error.IsError()) return error.Push(FXLOC);
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  long long number = std::strtoll(begin, &end, 10);
  bool digits =
      !text.empty() &&
      (std::isdigit(static_cast<unsigned char>(text[0])) ||
       (text[0] == '-' && text.size() > 1 && std::isdigit(static_cast<unsigned char>(text[1]))));
  if (!digits || *end != '\0' || errno == ERANGE) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Argument -%s is not a number: %s", name.c_str(),
                                   text.c_str());
  }
  value = static_cast<int64_t>(number);
  return CQiError::Success();
}

bool CProgramArguments::isFlagSet(const std::string& name) const {
  for (const auto& f : flags_) {
    if (f == name) return true;
  }
  return Find(name) != nullptr;
}

std::string CProgramArguments::Quote(const std::string& text) {
  if (!NeedsQuotes(text)) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}
