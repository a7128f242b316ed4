#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Plain value records the restore coordinators keep per keyspace and per
// DSE-encrypted table while they recreate a backed-up schema.
namespace TQCassandra {

// The schema of one keyspace as the restore coordinator recreates it, kept by
// value in a map from keyspace name.
struct cassandraCqlStatements {
  std::string keyspaceName;
  // Table name -> the table already exists on the destination.
  std::map<std::string, bool> tableExists;
  // The backed-up CREATE KEYSPACE statement.
  std::string keyspaceCql;
  // False until an existence check finds the keyspace on the destination.
  bool keyspaceExists = false;
  // CQL of each table to create, in the order they are added.
  std::vector<std::string> tableCqls;
};

// The decrypted encryption settings of one DSE-encrypted table.
struct cassandraDSEEncryptedTableRow {
  // Base name of the key file path.
  std::string keyFileName;
  std::string key;
  std::string keyId;
  std::string cipher;
  uint32_t strength = 0;
};

}  // namespace TQCassandra
