#include "platform/framework/RestoreRecord.h"

#include <cerrno>
#include <cstdlib>
#include <map>
#include <sstream>

#include "platform/base/FXErrorUtil.h"

namespace {

std::string Escape(const std::string& text) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (c == '%' || c == ' ' || c == '=' || c == ',' || c == '\n' || c == '\r' || c == ':') {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool Unescape(const std::string& text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    char* end = nullptr;
    std::string hex = text.substr(i + 1, 2);
    long v = std::strtol(hex.c_str(), &end, 16);
    if (hex.size() != 2 || *end != '\0') return false;
    out += static_cast<char>(v);
    i += 2;
  }
  return true;
}

bool ToInt64(const std::string& text, int64_t& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  value = v;
  return true;
}

}  // namespace

std::string RestoreRecord::AsString() const {
  std::ostringstream out;
  out << "RestoreRecord node=" << Escape(strNodeName) << " ombrel=" << ombrelId
      << " afile=" << archiveFileId << " agroup=" << archiveGroupId << " count=" << itemCount
      << " files=" << fileCount << " extents=" << extentCount << " flag=" << (hasExtents ? 1 : 0)
      << " afiletype=" << archiveFileType << " domain=" << installationDomainId << " job=" << jobId
      << " copy=" << copyPrecedence << " from=" << fromTime << " to=" << toTime
      << " restored=" << restoredCount << " media=" << Escape(strMediaType) << " chunks=";
  bool first = true;
  for (const auto& chunk : chunks) {
    if (!first) out << ',';
    first = false;
    out << chunk.archiveFileId << ':' << chunk.chunkNumber << ':' << chunk.offset << ':'
        << chunk.length;
  }
  return out.str();
}

CQiError RestoreRecord::Parse(const std::string& text, RestoreRecord& record) {
  auto bad = [&text](const char* why) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Not a restore record (%s): %s", why, text.c_str());
  };
  std::istringstream in(text);
  std::string word;
  if (!(in >> word) || word != "RestoreRecord") return bad("no heading");
  std::map<std::string, std::string> fields;
  while (in >> word) {
    size_t eq = word.find('=');
    if (eq == std::string::npos) return bad("a field without a value");
    if (!fields.emplace(word.substr(0, eq), word.substr(eq + 1)).second)
      return bad("a repeated field");
  }
  // "node", "media" and "chunks" may be empty and then end the word at "=".
  RestoreRecord r;
  static const char* kNumbers[] = {"ombrel",  "afile", "agroup",    "count",   "files",
                                   "extents", "flag",  "afiletype", "domain",  "job",
                                   "copy",    "from",  "to",        "restored"};
  std::map<std::string, int64_t> numbers;
  for (const char* name : kNumbers) {
    auto it = fields.find(name);
    int64_t value = 0;
    if (it == fields.end() || !ToInt64(it->second, value)) return bad(name);
    numbers[name] = value;
  }
  for (const char* name : {"node", "media", "chunks"}) {
    if (!fields.count(name)) return bad(name);
  }
  if (fields.size() != sizeof(kNumbers) / sizeof(kNumbers[0]) + 3) return bad("unknown fields");
  if (numbers["flag"] != 0 && numbers["flag"] != 1) return bad("flag");
  r.ombrelId = static_cast<uint32_t>(numbers["ombrel"]);
  r.archiveFileId = numbers["afile"];
  r.archiveGroupId = numbers["agroup"];
  r.itemCount = numbers["count"];
  r.fileCount = numbers["files"];
  r.extentCount = numbers["extents"];
  r.hasExtents = numbers["flag"] == 1;
  r.archiveFileType = static_cast<int32_t>(numbers["afiletype"]);
  r.installationDomainId = numbers["domain"];
  r.jobId = numbers["job"];
  r.copyPrecedence = static_cast<uint32_t>(numbers["copy"]);
  r.fromTime = numbers["from"];
  r.toTime = numbers["to"];
  r.restoredCount = numbers["restored"];
  if (!Unescape(fields["node"], r.strNodeName) || !Unescape(fields["media"], r.strMediaType)) {
    return bad("escape");
  }
  std::istringstream chunks(fields["chunks"]);
  std::string entry;
  while (std::getline(chunks, entry, ',')) {
    std::istringstream parts(entry);
    std::string part;
    int64_t values[4];
    int n = 0;
    while (std::getline(parts, part, ':')) {
      if (n >= 4 || !ToInt64(part, values[n])) return bad("chunk");
      ++n;
    }
    if (n != 4) return bad("chunk");
    r.chunks.push_back(GetChunkListByJobEl_t{values[0], values[1], values[2], values[3]});
  }
  record = r;
  return CQiError::Success();
}

bool RestoreRecord::operator==(const RestoreRecord& o) const {
  if (chunks.size() != o.chunks.size()) return false;
  auto a = chunks.begin();
  for (auto b = o.chunks.begin(); b != o.chunks.end(); ++a, ++b) {
    if (a->archiveFileId != b->archiveFileId || a->chunkNumber != b->chunkNumber ||
        a->offset != b->offset || a->length != b->length)
      return false;
  }
  return ombrelId == o.ombrelId && archiveGroupId == o.archiveGroupId &&
         archiveFileId == o.archiveFileId && itemCount == o.itemCount &&
         installationDomainId == o.installationDomainId && hasExtents == o.hasExtents &&
         fromTime == o.fromTime && toTime == o.toTime && copyPrecedence == o.copyPrecedence &&
         jobId == o.jobId && archiveFileType == o.archiveFileType && strNodeName == o.strNodeName &&
         strMediaType == o.strMediaType && fileCount == o.fileCount &&
         extentCount == o.extentCount && restoredCount == o.restoredCount;
}
