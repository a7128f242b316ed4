#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/base/QiError.h"
#include "platform/index/SqliteStatement.h"

// One connection to an SQLite database file, set up for sharing: write-ahead
// logging (readers never block the writer, and several processes may use the
// file at once), a busy timeout instead of immediate "database is locked"
// failures, and the serialised threading mode so the connection itself may be
// used from several threads.
class CSqliteDb {
 public:
  // How long a statement waits for another connection's write lock.
  static constexpr int kBusyTimeoutMs = 60000;

  CSqliteDb() = default;
  ~CSqliteDb();
  CSqliteDb(const CSqliteDb&) = delete;
  CSqliteDb& operator=(const CSqliteDb&) = delete;

  // Opens (creating when missing) the database file.
  CQiError Open(const std::string& path);
  void Close();
  bool IsOpen() const { return db_ != nullptr; }

  CQiError Exec(const std::string& sql);
  // Exec that keeps retrying while the database is busy, up to the timeout.
  CQiError ExecRetrying(const std::string& sql);
  CQiError Prepare(const std::string& sql, CSqliteStatement& statement);
  // Prepares `sql`, lets `bind` bind its parameters and runs it to its end
  // (a statement that returns no rows).
  CQiError Execute(const std::string& sql, const std::function<void(CSqliteStatement&)>& bind);
  // Prepares the query `sql`, lets `bind` (when given) bind its parameters
  // and hands every result row to `read`.
  CQiError Query(const std::string& sql, const std::function<void(CSqliteStatement&)>& bind,
                 const std::function<void(CSqliteStatement&)>& read);

  // A write transaction that takes the write lock at once (so it never
  // fails half-way with a lock upgrade conflict). Connections of one process
  // to the same file first queue on a mutex of that file, held until Commit
  // succeeds or Rollback: threads wait their turn instead of polling SQLite's
  // lock through the busy handler's sleeps. Other processes still meet the
  // busy timeout.
  CQiError BeginImmediate();
  // Runs `work` inside one write transaction: committed when `work` and the
  // commit succeed, rolled back otherwise; gives the first error.
  CQiError InTransaction(const std::function<CQiError()>& work);
  CQiError Commit();
  // Rolls back an open transaction; does nothing when none is open.
  void Rollback();

  int64_t LastInsertId() const;
  int Changes() const;

  // An error for an SQLite result code, carrying SQLite's message.
  static CQiError MakeError(const FXCodeLocation& location, sqlite3* db, int rc, const char* what);

 private:
  // The process-wide writer mutex of a database file.
  static std::mutex& WriterMutexOf(const std::string& path);

  sqlite3* db_ = nullptr;
  std::string path_;
  std::unique_lock<std::mutex> writer_;  // held from BeginImmediate to its end
};
