#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "platform/base/QiError.h"

// One prepared SQLite statement. Parameters are bound by 1-based position;
// columns are read by 0-based position. The statement is finalised when the
// object goes away.
class CSqliteStatement {
 public:
  CSqliteStatement() = default;
  CSqliteStatement(sqlite3* db, sqlite3_stmt* statement) : db_(db), statement_(statement) {}
  ~CSqliteStatement();
  CSqliteStatement(const CSqliteStatement&) = delete;
  CSqliteStatement& operator=(const CSqliteStatement&) = delete;
  CSqliteStatement(CSqliteStatement&& other) noexcept;
  CSqliteStatement& operator=(CSqliteStatement&& other) noexcept;

  bool IsValid() const { return statement_ != nullptr; }

  CSqliteStatement& Bind(int position, int64_t value);
  CSqliteStatement& Bind(int position, const std::string& value);
  CSqliteStatement& BindNull(int position);

  // Runs the statement one step: `row` is true while a result row is ready,
  // false once the statement is done. Any other outcome is an error.
  CQiError Step(bool& row);
  // Runs a statement that returns no rows to its end.
  CQiError Run();
  // Runs the statement to its end and hands every result row to
  // `read(*this)`.
  template <typename Read>
  CQiError ForEachRow(Read&& read) {
    for (;;) {
      bool row = false;
      CQiError error = Step(row);
      if (error.IsError()) return error;
      if (!row) return CQiError::Success();
      read(*this);
    }
  }
  // Makes the statement ready to run again (bindings stay).
  void Reset();

  int64_t ColumnInt(int column) const;
  std::string ColumnText(int column) const;
  bool ColumnIsNull(int column) const;

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* statement_ = nullptr;
};
