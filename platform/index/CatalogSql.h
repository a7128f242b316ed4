#pragma once

#include <string>

#include "platform/index/IndexCatalogTypes.h"
#include "platform/index/SqliteStatement.h"

// SQL pieces shared by the catalog's source files.
namespace CatalogSql {

// Columns of file_records (alias f) in the order ReadFileRecord reads them.
extern const char* const kFileColumns;
SFileRecord ReadFileRecord(const CSqliteStatement& s);

// Columns of metadata_records (alias m) in the order ReadMetadata reads them.
extern const char* const kMetadataColumns;
SMetadataRecord ReadMetadata(const CSqliteStatement& s);

// The condition that a row of a job (alias j) and with time column
// `timeColumn` lies in a browse scope; its parameters are ?101 to ?107.
std::string ScopeCondition(const std::string& timeColumn);
void BindScope(CSqliteStatement& s, const SBrowseScope& scope);

}  // namespace CatalogSql
