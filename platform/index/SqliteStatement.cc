#include "platform/index/SqliteStatement.h"

#include "platform/index/SqliteDb.h"

CSqliteStatement::~CSqliteStatement() {
  if (statement_) sqlite3_finalize(statement_);
}

CSqliteStatement::CSqliteStatement(CSqliteStatement&& other) noexcept
    : db_(other.db_), statement_(other.statement_) {
  other.db_ = nullptr;
  other.statement_ = nullptr;
}

CSqliteStatement& CSqliteStatement::operator=(CSqliteStatement&& other) noexcept {
  if (this != &other) {
    if (statement_) sqlite3_finalize(statement_);
    db_ = other.db_;
    statement_ = other.statement_;
    other.db_ = nullptr;
    other.statement_ = nullptr;
  }
  return *this;
}

CSqliteStatement& CSqliteStatement::Bind(int position, int64_t value) {
  sqlite3_bind_int64(statement_, position, value);
  return *this;
}

CSqliteStatement& CSqliteStatement::Bind(int position, const std::string& value) {
  sqlite3_bind_text(statement_, position, value.data(), static_cast<int>(value.size()),
                    SQLITE_TRANSIENT);
  return *this;
}

CSqliteStatement& CSqliteStatement::BindNull(int position) {
  sqlite3_bind_null(statement_, position);
  return *this;
}

CQiError CSqliteStatement::Step(bool& row) {
  row = false;
  if (!statement_) return CSqliteDb::MakeError(FXLOC, db_, SQLITE_MISUSE, "step");
  int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) {
    row = true;
    return CQiError::Success();
  }
  if (rc == SQLITE_DONE) return CQiError::Success();
  return CSqliteDb::MakeError(FXLOC, db_, rc, sqlite3_sql(statement_));
}

CQiError CSqliteStatement::Run() {
  bool row = true;
  while (row) {
    CQiError error = Step(row);
    if (error.IsError()) return error;
  }
  return CQiError::Success();
}

void CSqliteStatement::Reset() {
  if (statement_) sqlite3_reset(statement_);
}

int64_t CSqliteStatement::ColumnInt(int column) const {
  return sqlite3_column_int64(statement_, column);
}

std::string CSqliteStatement::ColumnText(int column) const {
  const unsigned char* text = sqlite3_column_text(statement_, column);
  if (!text) return std::string();
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<size_t>(sqlite3_column_bytes(statement_, column)));
}

bool CSqliteStatement::ColumnIsNull(int column) const {
  return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}
