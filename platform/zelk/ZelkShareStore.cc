#include "platform/zelk/ZelkShareStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/QiDirectory.h"
#include "platform/json/JsonNumbers.h"
#include "platform/suite/ClientContext.h"

namespace Zelk {

namespace {

std::mutex& StoreMutex() {
  static std::mutex mutex;
  return mutex;
}

// Holds the store's lock file (and the process's mutex) while it lives.
class StoreLock {
 public:
  explicit StoreLock(const std::string& root) : guard_(StoreMutex()) {
    CQiDirectory::Create(root.c_str(), true);
    fd_ = open((root + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~StoreLock() {
    if (fd_ >= 0) close(fd_);
  }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;

 private:
  std::lock_guard<std::mutex> guard_;
  int fd_ = -1;
};

nlohmann::json ToJson(const SZelkShare& s) {
  return {{"id", s.id},
          {"name", s.name},
          {"server", s.server},
          {"jobId", s.jobId},
          {"hosts", s.hosts},
          {"uid", s.uid},
          {"gid", s.gid},
          {"accessPerm", s.accessPerm},
          {"backupSetId", s.backupSetId},
          {"subclientId", s.subclientId},
          {"fromTime", s.fromTime},
          {"toTime", s.toTime},
          {"files", s.files}};
}

bool FromJson(const nlohmann::json& j, SZelkShare& s) {
  try {
    s.id = TqJson::IntegerAt<uint32_t>(j, "id");
    s.name = j.at("name").get<std::string>();
    s.server = j.at("server").get<std::string>();
    s.jobId = TqJson::IntegerAt<int64_t>(j, "jobId");
    s.hosts = j.at("hosts").get<std::vector<std::string>>();
    s.uid = TqJson::IntegerAt<int64_t>(j, "uid");
    s.gid = TqJson::IntegerAt<int64_t>(j, "gid");
    s.accessPerm = j.at("accessPerm").get<std::string>();
    s.backupSetId = TqJson::IntegerAt<int64_t>(j, "backupSetId");
    s.subclientId = TqJson::IntegerAt<int64_t>(j, "subclientId");
    s.fromTime = TqJson::IntegerAt<int64_t>(j, "fromTime");
    s.toTime = TqJson::IntegerAt<int64_t>(j, "toTime");
    s.files = TqJson::IntegerAt<uint64_t>(j, "files");
  } catch (const std::exception&) {
    // A damaged record: a missing member, a wrong type or a number out of range.
    return false;
  }
  return CZelkShareStore::IsValidShareName(s.name);
}

bool ReadFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return true;
}

// Writes `text` to `path` through a temporary file renamed into place.
CQiError WriteFile(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) return FXErrorUtil::ErrorErrNo(FXLOC, EIO, "Cannot write %s", temporary.c_str());
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    int err = errno;
    unlink(temporary.c_str());
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Cannot write %s", path.c_str());
  }
  return CQiError::Success();
}

}  // namespace

CZelkShareStore::CZelkShareStore(const std::string& home)
    : root_((home.empty() ? CClientContext::SuiteHome() : home) + "/zelk") {}

std::string CZelkShareStore::ExportPath(const std::string& name) const {
  return root_ + "/exports/" + name;
}

bool CZelkShareStore::IsValidShareName(const std::string& name) {
  if (name.empty() || name.size() > 200 || name == "." || name == "..") return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
  });
}

CQiError CZelkShareStore::MarkServerRunning(const std::string& host) {
  if (!IsValidShareName(host)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Not a usable host name for the file server: %s",
                                   host.c_str());
  }
  StoreLock lock(root_);
  CQiError e = CQiDirectory::Create((root_ + "/servers").c_str(), true);
  if (e.IsError()) return e.Push(FXLOC);
  return WriteFile(root_ + "/servers/" + host, "running\n");
}

bool CZelkShareStore::IsServerRunning(const std::string& host) const {
  if (!IsValidShareName(host)) return false;
  return access((root_ + "/servers/" + host).c_str(), F_OK) == 0;
}

CQiError CZelkShareStore::Add(SZelkShare& share) {
  StoreLock lock(root_);
  CQiError e = CQiDirectory::Create((root_ + "/shares").c_str(), true);
  if (e.IsError()) return e.Push(FXLOC);
  std::string text;
  uint32_t next = 1;
  if (ReadFile(root_ + "/next-id", text)) {
    try {
      next = static_cast<uint32_t>(std::stoul(text));
    } catch (const std::exception&) {
      next = 1;
    }
  }
  // Never reuse the id of a share that still exists.
  for (const SZelkShare& existing : List()) next = std::max(next, existing.id + 1);
  if (next == 0) next = 1;
  share.id = next;
  e = WriteFile(root_ + "/next-id", std::to_string(next + 1) + "\n");
  if (e.IsError()) return e.Push(FXLOC);
  e = WriteFile(root_ + "/shares/" + std::to_string(share.id) + ".json", ToJson(share).dump(1));
  if (e.IsError()) return e.Push(FXLOC);
  return CQiError::Success();
}

CQiError CZelkShareStore::Find(uint32_t id, SZelkShare& share) const {
  std::string text;
  if (ReadFile(root_ + "/shares/" + std::to_string(id) + ".json", text)) {
    nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (!j.is_discarded() && FromJson(j, share) && share.id == id) return CQiError::Success();
  }
  return FXErrorUtil::ErrorWin32(FXLOC, 1168, "No network share with id %u", id);
}

CQiError CZelkShareStore::FindByName(const std::string& name, SZelkShare& share) const {
  for (const SZelkShare& s : List()) {
    if (s.name == name) {
      share = s;
      return CQiError::Success();
    }
  }
  return FXErrorUtil::ErrorWin32(FXLOC, 1168, "No network share named %s", name.c_str());
}

std::vector<SZelkShare> CZelkShareStore::List() const {
  std::vector<SZelkShare> shares;
  CQiDirectory listing;
  if (listing.Open((root_ + "/shares").c_str(), "*.json", false).IsError()) return shares;
  SQiDirEntry entry;
  bool done = false;
  while (!listing.GetEntry(entry, done).IsError() && !done) {
    std::string text;
    if (!ReadFile(root_ + "/shares/" + entry.name.str(), text)) continue;
    nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    SZelkShare share;
    if (!j.is_discarded() && FromJson(j, share)) shares.push_back(share);
  }
  std::sort(shares.begin(), shares.end(),
            [](const SZelkShare& a, const SZelkShare& b) { return a.id < b.id; });
  return shares;
}

CQiError CZelkShareStore::Remove(uint32_t id) {
  StoreLock lock(root_);
  SZelkShare share;
  CQiError e = Find(id, share);
  if (e.IsError()) return e.Push(FXLOC);
  e = CQiDirectory::Remove(ExportPath(share.name).c_str(), true, true);
  if (e.IsError()) return e.Push(FXLOC);
  if (unlink((root_ + "/shares/" + std::to_string(id) + ".json").c_str()) != 0) {
    return FXErrorUtil::ErrorErrNo(FXLOC, errno, "Cannot remove the record of share %u", id);
  }
  return CQiError::Success();
}

}  // namespace Zelk
