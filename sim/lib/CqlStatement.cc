#include "sim/lib/CqlStatement.h"

#include <algorithm>
#include <cctype>
#include <regex>

namespace TqSim {

namespace {

std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// Reads tokens of a statement: words, quoted identifiers (case kept), and
// single characters.
class Scanner {
 public:
  explicit Scanner(const std::string& text) : text_(text) {}

  void SkipBlanks() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  // The next word in upper case ("" when the next token is no word).
  std::string PeekWord() {
    SkipBlanks();
    size_t p = pos_;
    while (p < text_.size() &&
           (std::isalnum(static_cast<unsigned char>(text_[p])) || text_[p] == '_'))
      ++p;
    return Upper(text_.substr(pos_, p - pos_));
  }
  bool Word(const char* word) {
    if (PeekWord() != word) return false;
    pos_ += std::string(word).size();
    return true;
  }
  // An identifier: unquoted (folded to lower case) or "quoted".
  bool Identifier(std::string& out) {
    SkipBlanks();
    if (pos_ < text_.size() && text_[pos_] == '"') {
      out.clear();
      for (++pos_; pos_ < text_.size(); ++pos_) {
        if (text_[pos_] == '"') {
          if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '"') {
            out += '"';
            ++pos_;
            continue;
          }
          ++pos_;
          return !out.empty();
        }
        out += text_[pos_];
      }
      return false;
    }
    size_t p = pos_;
    while (p < text_.size() &&
           (std::isalnum(static_cast<unsigned char>(text_[p])) || text_[p] == '_'))
      ++p;
    if (p == pos_) return false;
    out = Lower(text_.substr(pos_, p - pos_));
    pos_ = p;
    return true;
  }
  bool Char(char c) {
    SkipBlanks();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  std::string Rest() const { return text_.substr(pos_); }

 private:
  const std::string& text_;
  size_t pos_ = 0;
};

}  // namespace

std::vector<std::string> CqlStatement::Split(const std::string& text) {
  std::vector<std::string> parts;
  std::string current;
  size_t i = 0;
  const size_t n = text.size();
  // Copies text[i, end) into the current statement.
  auto take = [&](size_t end) {
    current.append(text, i, end - i);
    i = end;
  };
  while (i < n) {
    const char c = text[i];
    if (c == '\'' || c == '"') {
      const size_t close = text.find(c, i + 1);
      take(close == std::string::npos ? n : close + 1);
    } else if (c == '$' && i + 1 < n && text[i + 1] == '$') {
      const size_t close = text.find("$$", i + 2);
      take(close == std::string::npos ? n : close + 2);
    } else if ((c == '-' || c == '/') && i + 1 < n && text[i + 1] == c) {
      const size_t end = text.find('\n', i + 2);
      take(end == std::string::npos ? n : end);
    } else if (c == '/' && i + 1 < n && text[i + 1] == '*') {
      const size_t close = text.find("*/", i + 2);
      take(close == std::string::npos ? n : close + 2);
    } else if (c == ';') {
      if (!Trim(current).empty()) parts.push_back(Trim(current));
      current.clear();
      ++i;
    } else {
      current += c;
      ++i;
    }
  }
  if (!Trim(current).empty()) parts.push_back(Trim(current));
  return parts;
}

bool CqlStatement::ParseMap(const std::string& text, nlohmann::json& out, std::string& error) {
  out = nlohmann::json::object();
  size_t open = text.find('{');
  if (open == std::string::npos) {
    error = "No map in " + text;
    return false;
  }
  size_t p = open + 1;
  auto blanks = [&] {
    while (p < text.size() && std::isspace(static_cast<unsigned char>(text[p]))) ++p;
  };
  auto value = [&](std::string& v) -> bool {
    blanks();
    v.clear();
    if (p < text.size() && text[p] == '\'') {
      for (++p; p < text.size(); ++p) {
        if (text[p] == '\'') {
          if (p + 1 < text.size() && text[p + 1] == '\'') {
            v += '\'';
            ++p;
            continue;
          }
          ++p;
          return true;
        }
        v += text[p];
      }
      return false;
    }
    while (p < text.size() && text[p] != ',' && text[p] != '}' && text[p] != ':' &&
           !std::isspace(static_cast<unsigned char>(text[p]))) {
      v += text[p++];
    }
    return !v.empty();
  };
  blanks();
  if (p < text.size() && text[p] == '}') return true;
  for (;;) {
    std::string key, v;
    if (!value(key)) break;
    blanks();
    if (p >= text.size() || text[p] != ':') break;
    ++p;
    if (!value(v)) break;
    out[key] = v;
    blanks();
    if (p < text.size() && text[p] == ',') {
      ++p;
      continue;
    }
    if (p < text.size() && text[p] == '}') return true;
    break;
  }
  error = "Cannot read the map " + text.substr(open);
  return false;
}

bool CqlStatement::Parse(const std::string& textIn, CqlStatement& out, std::string& error) {
  out = CqlStatement();
  out.text = Trim(textIn);
  Scanner s(out.text);
  if (!s.Word("CREATE")) {
    out.kind = kOther;
    return true;
  }
  if (s.Word("KEYSPACE") || s.Word("SCHEMA")) {
    out.kind = kCreateKeyspace;
  } else if (s.Word("TABLE") || s.Word("COLUMNFAMILY")) {
    out.kind = kCreateTable;
  } else if (s.Word("MATERIALIZED")) {
    if (!s.Word("VIEW")) {
      error = "Cannot read: " + out.text;
      return false;
    }
    out.kind = kCreateView;
  } else {
    out.kind = kCreateOther;
    return true;
  }
  if (s.Word("IF")) {
    if (!s.Word("NOT") || !s.Word("EXISTS")) {
      error = "Cannot read: " + out.text;
      return false;
    }
    out.ifNotExists = true;
  }
  std::string first, second;
  if (!s.Identifier(first)) {
    error = "No name in: " + out.text;
    return false;
  }
  if (s.Char('.')) {
    if (!s.Identifier(second)) {
      error = "No name in: " + out.text;
      return false;
    }
    out.keyspace = first;
    out.name = second;
  } else if (out.kind == kCreateKeyspace) {
    out.keyspace = first;
  } else {
    error = "The table of this statement names no keyspace: " + out.text;
    return false;
  }
  const std::string rest = s.Rest();
  if (out.kind == kCreateKeyspace) {
    static const std::regex kReplication(R"(replication\s*=\s*(\{[^}]*\}))", std::regex::icase);
    std::smatch m;
    if (!std::regex_search(rest, m, kReplication)) {
      error = "No replication in: " + out.text;
      return false;
    }
    if (!ParseMap(m[1], out.replication, error)) return false;
    if (!out.replication.contains("class")) {
      error = "No replication class in: " + out.text;
      return false;
    }
  } else {
    static const std::regex kId(R"(\bID\s*=\s*'?([0-9a-fA-F]{8}-[0-9a-fA-F-]{27})'?)",
                                std::regex::icase);
    std::smatch m;
    if (std::regex_search(rest, m, kId)) out.id = Lower(m[1]);
  }
  return true;
}

}  // namespace TqSim
