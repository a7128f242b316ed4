#include "platform/base/CommandLineArguments.h"

#include <cctype>

#include "platform/base/FXErrorUtil.h"

bool CCommandLineArguments::IsName(const Token& token) {
  if (token.quoted || token.text.size() < 2 || token.text[0] != '-') return false;
  size_t at = token.text[1] == '-' ? 2 : 1;
  return at < token.text.size() && !std::isdigit(static_cast<unsigned char>(token.text[at])) &&
         token.text[at] != '.';
}

void CCommandLineArguments::Build(const std::vector<Token>& tokens) {
  options_.clear();
  plain_.clear();
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (!IsName(tokens[i])) {
      plain_.push_back(tokens[i].text);
      continue;
    }
    const std::string& t = tokens[i].text;
    std::string name = t.substr(t[1] == '-' ? 2 : 1);
    std::string value;
    if (i + 1 < tokens.size() && !IsName(tokens[i + 1])) value = tokens[++i].text;
    auto it = options_.begin();
    for (; it != options_.end() && it->first != name; ++it) {
    }
    if (it != options_.end()) {
      it->second = value;
    } else {
      options_.emplace_back(name, value);
    }
  }
}

CQiError CCommandLineArguments::Parse(const char* line) {
  std::vector<Token> tokens;
  CQiError result;
  const char* p = line ? line : "";
  while (*p) {
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
    if (!*p) break;
    Token token{std::string(), false};
    bool inQuotes = false;
    for (; *p && (inQuotes || (*p != ' ' && *p != '\t' && *p != '\n' && *p != '\r')); ++p) {
      if (*p == '"') {
        inQuotes = !inQuotes;
        token.quoted = true;
      } else if (inQuotes && *p == '\\' && p[1]) {
        token.text += *++p;
      } else {
        token.text += *p;
      }
    }
    if (inQuotes) {
      result = FXErrorUtil::ErrorWin32(FXLOC, 87, "Unterminated quote in the argument line");
      break;
    }
    tokens.push_back(std::move(token));
  }
  Build(tokens);
  return result;
}

CQiError CCommandLineArguments::Parse(int argc, const char* const* argv) {
  std::vector<Token> tokens;
  for (int i = 1; i < argc && argv; ++i) tokens.push_back(Token{argv[i] ? argv[i] : "", false});
  Build(tokens);
  return CQiError::Success();
}

const std::pair<std::string, std::string>* CCommandLineArguments::Find(const char* name) const {
  if (!name) return nullptr;
  for (const auto& o : options_)
    if (o.first == name) return &o;
  return nullptr;
}

CQiError CCommandLineArguments::GetOption(const char* name, std::string& value) const {
  const auto* o = Find(name);
  if (!o) return FXErrorUtil::ErrorWin32(FXLOC, 1168, "Option %s not found", name ? name : "");
  value = o->second;
  return CQiError::Success();
}

CQiError CCommandLineArguments::GetOption(const char* name, CQiString& value) const {
  std::string text;
  CQiError error = GetOption(name, text);
  if (error.IsError()) return error;
  value = text;
  return error;
}

CQiError CCommandLineArguments::GetFlag(const char* name, bool& present) const {
  present = Find(name) != nullptr;
  return CQiError::Success();
}

bool CCommandLineArguments::HasOption(const char* name) const { return Find(name) != nullptr; }
