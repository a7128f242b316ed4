// The cluster browser's content browse: the keyspaces of Priam's "getMeta"
// with their replication, one row per data centre where the class has one.

#include <cctype>
#include <climits>
#include <set>
#include <stdexcept>
#include <vector>

#include "browse/ClientBrowse.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/json/TqJson.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"

namespace TQCassandra {

namespace {

const char* const kStatusFailed = "Failed to fetch Cassandra status to get the list of datacenters";

// The leading decimal number of a factor text, after blanks and a sign, as
// atoi reads it; 0 when there is none. Out of range values are clamped.
int64_t FactorOf(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    if (value > (INT_MAX - (text[i] - '0')) / 10) {
      value = INT_MAX;
      break;
    }
    value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

// One keyspace of the "getMeta" reply.
struct KeyspaceRow {
  std::string name;
  std::string replicationClass;
  TqJson::Object replication;
};

// Reads the data centres of a "status" reply. False for a reply that is not
// an array of objects with text members.
bool ReadDataCenters(const std::string& reply, std::set<std::string>& dataCenters) {
  TqJson::Array elements;
  if (!TqJson::Unserialize(reply, elements)) return false;
  try {
    for (const TqJson::Value& element : elements) {
      if (!element.isObject()) continue;
      dataCenters.insert(TqJson::GetStringValue(element.getObject(), "data_center"));
    }
  } catch (const std::runtime_error&) {
    return false;
  }
  return true;
}

// Reads the keyspaces of a "getMeta" reply; elements that are not objects
// are skipped. An error for a reply that is not an array or whose members
// are of other types than a keyspace's.
CQiError ReadKeyspaces(const std::string& reply, std::vector<KeyspaceRow>& keyspaces) {
  TqJson::Array elements;
  if (!TqJson::Unserialize(reply, elements)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Priam reply to getMeta is not a JSON array");
  }
  try {
    for (const TqJson::Value& element : elements) {
      if (!element.isObject()) continue;
      KeyspaceRow row;
      row.name = TqJson::GetStringValue(element.getObject(), "KEYSPACE");
      TqJson::FindObjectValue(element.getObject(), "REPLICATION", row.replication);
      row.replicationClass = TqJson::GetStringValue(row.replication, "class");
      for (const auto& member : row.replication) {
        if (member.first != "class") member.second.getStr();
      }
      keyspaces.push_back(std::move(row));
    }
  } catch (const std::runtime_error& typeError) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Priam reply to getMeta is not readable: %s",
                                   typeError.what());
  }
  return CQiError::Success();
}

}  // namespace

CQiError CClientBrowse::contentBrowse(App::MachineBrowseItem& item, std::string& reason) {
  TQLOG(0, "Cassandra content browse request");
  CQiString reply;
  std::string clusterName;
  std::string version;
  // The request's own error goes back as it is.
  CQiError e = requestClusterDetails(reply, clusterName, version, reason);
  if (e.IsError()) return e;

  // The data centres matter only to keyspaces of other classes than the two
  // strategies; a failed "status" fails the browse only when one needs them.
  std::set<std::string> dataCenters;
  e = priamUtil->get(0, CQiString("status"), reply, CQiString(""));
  const bool haveDataCenters = !e.IsError() && ReadDataCenters(reply.str(), dataCenters);
  if (!haveDataCenters) {
    TQLOG(-1, "%s", kStatusFailed);
    dataCenters.clear();
  }

  e = priamUtil->get(0, CQiString("getMeta"), reply, CQiString(""));
  if (e.IsError()) {
    const char* text = FXErrorUtil::IsWin32(e, 5) ? "Cassandra CQL authentication error"
                                                  : "Failed to get Cassandra metadata from Priam "
                                                    "service";
    reason = text;
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "%s%s", kFailurePrefix, text);
  }
  TQLOG(0, "Getmeta response: %s", reply.c_str());
  std::vector<KeyspaceRow> keyspaces;
  e = ReadKeyspaces(reply.str(), keyspaces);
  if (e.IsError()) {
    reason = "Failed to get Cassandra metadata from Priam service";
    TQLOG(-1, "%s", e.AsString(2).c_str());
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "%s%s", kFailurePrefix, reason.c_str());
  }

  std::vector<App::CassandraContent> rows;
  for (const KeyspaceRow& keyspace : keyspaces) {
    TQLOG(0, "Keyspace: %s Class: %s", keyspace.name.c_str(), keyspace.replicationClass.c_str());
    App::CassandraContent row;
    row.setClusterName(clusterName);
    row.setKeyspaceName(keyspace.name);
    if (keyspace.replicationClass.find("SimpleStrategy") != std::string::npos) {
      row.setReplicationFactor(
          FactorOf(TqJson::GetStringValue(keyspace.replication, "replication_factor")));
      row.setReplicationClass(keyspace.replicationClass);
      rows.push_back(row);
    } else if (keyspace.replicationClass.find("NetworkTopologyStrategy") != std::string::npos) {
      // The object's members come in ascending name order.
      for (const auto& member : keyspace.replication) {
        if (member.first == "class") continue;
        App::CassandraContent perDataCenter = row;
        perDataCenter.setDataCenter(member.first);
        perDataCenter.setReplicationFactor(FactorOf(member.second.getStr()));
        perDataCenter.setReplicationClass(keyspace.replicationClass);
        rows.push_back(perDataCenter);
      }
    } else {
      if (!haveDataCenters) {
        reason = kStatusFailed;
        return FXErrorUtil::ErrorWin32(FXLOC, 1359, "%s%s", kFailurePrefix, kStatusFailed);
      }
      for (const std::string& dataCenter : dataCenters) {
        App::CassandraContent perDataCenter = row;
        perDataCenter.setDataCenter(dataCenter);
        perDataCenter.setReplicationClass(keyspace.replicationClass);
        rows.push_back(perDataCenter);
      }
    }
  }
  App::CassandraBrowseItem browseItem;
  browseItem.setContents(rows);
  item.setCassandraItem(browseItem);
  return CQiError::Success();
}

}  // namespace TQCassandra
