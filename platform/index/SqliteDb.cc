#include "platform/index/SqliteDb.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>

#include "platform/base/FXErrorUtil.h"

namespace {

// Win32 codes for the SQLite results a caller may want to tell apart.
uint32_t Win32CodeOf(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return 170;  // ERROR_BUSY
    case SQLITE_FULL:
      return 112;  // ERROR_DISK_FULL
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_READONLY:
      return 110;  // ERROR_OPEN_FAILED
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return 1392;  // ERROR_FILE_CORRUPT
    default:
      return 1359;  // ERROR_INTERNAL_ERROR
  }
}

}  // namespace

CSqliteDb::~CSqliteDb() { Close(); }

CQiError CSqliteDb::MakeError(const FXCodeLocation& location, sqlite3* db, int rc,
                              const char* what) {
  const char* message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  return FXErrorUtil::ErrorWin32(location, Win32CodeOf(rc), "Index catalog error %d (%s) in [%s]",
                                 rc, message ? message : "", what ? what : "");
}

CQiError CSqliteDb::Open(const std::string& path) {
  Close();
  sqlite3* db = nullptr;
  int rc =
      sqlite3_open_v2(path.c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    CQiError error =
        FXErrorUtil::ErrorWin32(FXLOC, Win32CodeOf(rc), "Failed to open the index catalog %s: %s",
                                path.c_str(), sqlite3_errstr(rc));
    if (db) sqlite3_close(db);
    return error;
  }
  db_ = db;
  path_ = path;
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db_, 1);
  // WAL survives in the file once set; NORMAL synchronisation is safe with
  // WAL (a crash may lose the last commits, never corrupt the file).
  const char* setup = "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;";
  // A file the process may only read opens read-only, as it is (in WAL mode
  // already when a writer made it). In a folder it may not write either, the
  // write-ahead log's index cannot be made: the file is then read as it
  // stands, without the commits a writer has not checkpointed yet.
  if (sqlite3_db_readonly(db_, "main") == 1) {
    setup = "PRAGMA foreign_keys=ON;";
    const std::string folder = path.substr(0, path.find_last_of('/') + 1);
    if (::access(folder.empty() ? "." : folder.c_str(), W_OK) != 0) {
      sqlite3_close_v2(db_);
      db_ = nullptr;
      std::string uri = "file:";
      for (char c : path) {
        if (c == '?' || c == '#' || c == '%') {
          char escaped[4];
          std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
          uri += escaped;
        } else {
          uri += c;
        }
      }
      uri += "?immutable=1";
      rc = sqlite3_open_v2(uri.c_str(), &db,
                           SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX, nullptr);
      if (rc != SQLITE_OK) {
        if (db) sqlite3_close(db);
        return FXErrorUtil::ErrorWin32(FXLOC, Win32CodeOf(rc),
                                       "Failed to open the index catalog %s: %s", path.c_str(),
                                       sqlite3_errstr(rc));
      }
      db_ = db;
    }
  }
  CQiError error = ExecRetrying(setup);
  if (error.IsError()) {
    Close();
    return error.Push(FXLOC);
  }
  return CQiError::Success();
}

void CSqliteDb::Close() {
  if (db_) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
  if (writer_.owns_lock()) writer_.unlock();
}

CQiError CSqliteDb::Exec(const std::string& sql) {
  if (!db_) return MakeError(FXLOC, nullptr, SQLITE_MISUSE, sql.c_str());
  int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return MakeError(FXLOC, db_, rc, sql.c_str());
  return CQiError::Success();
}

CQiError CSqliteDb::Prepare(const std::string& sql, CSqliteStatement& statement) {
  if (!db_) return MakeError(FXLOC, nullptr, SQLITE_MISUSE, sql.c_str());
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr);
  if (rc != SQLITE_OK) {
    if (raw) sqlite3_finalize(raw);
    return MakeError(FXLOC, db_, rc, sql.c_str());
  }
  statement = CSqliteStatement(db_, raw);
  return CQiError::Success();
}

CQiError CSqliteDb::ExecRetrying(const std::string& sql) {
  if (!db_) return MakeError(FXLOC, nullptr, SQLITE_MISUSE, sql.c_str());
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  for (;;) {
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return CQiError::Success();
    bool busy = (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED;
    if (!busy || std::chrono::steady_clock::now() >= deadline) {
      return MakeError(FXLOC, db_, rc, sql.c_str());
    }
    // Some lock conflicts (switching the journal mode while another process
    // opens the file, recovery of its log) skip the busy handler: back off.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::mutex& CSqliteDb::WriterMutexOf(const std::string& path) {
  static std::mutex mapMutex;
  static std::map<std::string, std::unique_ptr<std::mutex>> byPath;
  std::lock_guard<std::mutex> lock(mapMutex);
  std::unique_ptr<std::mutex>& entry = byPath[path];
  if (!entry) entry.reset(new std::mutex());
  return *entry;
}

CQiError CSqliteDb::BeginImmediate() {
  if (!db_) return MakeError(FXLOC, nullptr, SQLITE_MISUSE, "BEGIN IMMEDIATE");
  std::unique_lock<std::mutex> writer(WriterMutexOf(path_));
  CQiError error = ExecRetrying("BEGIN IMMEDIATE");
  if (error.IsError()) return error;
  writer_ = std::move(writer);
  return CQiError::Success();
}

CQiError CSqliteDb::Execute(const std::string& sql,
                            const std::function<void(CSqliteStatement&)>& bind) {
  CSqliteStatement statement;
  CQiError error = Prepare(sql, statement);
  if (error.IsError()) return error;
  if (bind) bind(statement);
  return statement.Run();
}

CQiError CSqliteDb::Query(const std::string& sql,
                          const std::function<void(CSqliteStatement&)>& bind,
                          const std::function<void(CSqliteStatement&)>& read) {
  CSqliteStatement statement;
  CQiError error = Prepare(sql, statement);
  if (error.IsError()) return error;
  if (bind) bind(statement);
  return statement.ForEachRow(read);
}

CQiError CSqliteDb::InTransaction(const std::function<CQiError()>& work) {
  CQiError error = BeginImmediate();
  if (error.IsError()) return error;
  error = work();
  if (!error.IsError()) error = Commit();
  if (error.IsError()) Rollback();
  return error;
}

CQiError CSqliteDb::Commit() {
  CQiError error = Exec("COMMIT");
  // A failed commit keeps the transaction (and the writer mutex) for the
  // caller's Rollback.
  if (!error.IsError() && writer_.owns_lock()) writer_.unlock();
  return error;
}

void CSqliteDb::Rollback() {
  if (db_ && !sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  if (writer_.owns_lock()) writer_.unlock();
}

int64_t CSqliteDb::LastInsertId() const { return db_ ? sqlite3_last_insert_rowid(db_) : 0; }

int CSqliteDb::Changes() const { return db_ ? sqlite3_changes(db_) : 0; }
