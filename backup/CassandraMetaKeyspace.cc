#include "backup/CassandraMetaKeyspace.h"

#include <algorithm>

#include "platform/base/FXErrorUtil.h"

namespace TQCassandra {

namespace {

// A string member: "" when absent; false when it has another type.
bool StringMember(const TqJson::Object& object, const char* name, std::string& out) {
  out.clear();
  TqJson::Value value;
  if (!TqJson::FindValue(object, name, value)) return true;
  if (!value.isString()) return false;
  out = value.getStr();
  return true;
}

CQiError Unreadable(const FXCodeLocation& location, size_t index, const std::string& keyspace,
                    const char* member) {
  return FXErrorUtil::ErrorWin32(location, 13,
                                 "Priam reply to getMeta is not readable: keyspace %zu (\"%s\") "
                                 "has a %s of an unexpected type",
                                 index + 1, keyspace.c_str(), member);
}

}  // namespace

CQiError CassandraMetaKeyspace::ReadReply(const std::string& reply,
                                          std::vector<CassandraMetaKeyspace>& out) {
  out.clear();
  TqJson::Array elements;
  if (!TqJson::Unserialize(reply, elements)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Priam reply to getMeta is not a JSON array");
  }
  for (size_t i = 0; i < elements.size(); ++i) {
    if (!elements[i].isObject()) continue;
    CassandraMetaKeyspace keyspace;
    keyspace.object = elements[i].getObject();
    if (!StringMember(keyspace.object, "KEYSPACE", keyspace.name)) {
      return Unreadable(FXLOC, i, "", "\"KEYSPACE\"");
    }
    TqJson::Value member;
    if (TqJson::FindValue(keyspace.object, "REPLICATION", member)) {
      if (member.isObject()) {
        keyspace.replication = member.getObject();
      } else if (!member.isString() ||
                 !TqJson::Unserialize(member.getStr(), keyspace.replication)) {
        return Unreadable(FXLOC, i, keyspace.name, "\"REPLICATION\"");
      }
      if (!StringMember(keyspace.replication, "class", keyspace.replicationClass)) {
        return Unreadable(FXLOC, i, keyspace.name, "replication \"class\"");
      }
    }
    if (TqJson::FindValue(keyspace.object, "Tables", member)) {
      if (!member.isArray()) return Unreadable(FXLOC, i, keyspace.name, "\"Tables\"");
      for (const TqJson::Value& table : member.getArray()) {
        if (!table.isObject()) continue;
        std::string tableName, tableId;
        if (!StringMember(table.getObject(), "COLUMNSPACE", tableName) ||
            !StringMember(table.getObject(), "ID", tableId)) {
          return Unreadable(FXLOC, i, keyspace.name, "table name or id");
        }
        tableId.erase(std::remove(tableId.begin(), tableId.end(), '-'), tableId.end());
        keyspace.tables.emplace_back(tableName, tableId);
      }
    }
    out.push_back(std::move(keyspace));
  }
  return CQiError::Success();
}

}  // namespace TQCassandra
