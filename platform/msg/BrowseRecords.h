#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/msg/EntityRecords.h"
#include "platform/msg/IndexMetadataRecords.h"
#include "platform/msg/NMessageBase.h"

// Index browse records (namespace 100): the browse request, its options and
// queries, and the response with its items. Several fixed values of the
// request (options, flags, paging) are interpreted by the index browse
// service alone; their accessors are named after their field numbers.
namespace databrowse {

class BrowsePath : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 100;
  static constexpr uint32_t kClassId = 3;
  BrowsePath() : CNMessageBase(kNamespaceId, kClassId) {}
  explicit BrowsePath(const std::string& path) : BrowsePath() { setPath(path); }

  std::string getPath() const { return getstring(1, 1); }
  void setPath(const std::string& v) { setstring(1, 1, v); }
};

class BrowseOptions : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 100;
  static constexpr uint32_t kClassId = 4;
  BrowseOptions() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getField2() const { return getint64(2); }
  void setField2(int64_t v) { setint64(2, 2, v); }
  int64_t getIncludeMetadata() const { return getint64(11); }
  void setIncludeMetadata(int64_t v) { setint64(11, 11, v); }
  int64_t getField18() const { return getint64(18); }
  void setField18(int64_t v) { setint64(18, 18, v); }
  int64_t getField62() const { return getint64(62); }
  void setField62(int64_t v) { setint64(62, 62, v); }
};

// Paging of a query.
class QueryRange : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 100;
  static constexpr uint32_t kClassId = 6;
  QueryRange() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getField1() const { return getint64(1); }
  void setField1(int64_t v) { setint64(1, 1, v); }
  int64_t getField2() const { return getint64(2); }
  void setField2(int64_t v) { setint64(2, 2, v); }
  int64_t getField3() const { return getint64(3); }
  void setField3(int64_t v) { setint64(3, 3, v); }
};

// One additional flag of a browse item: a key and a value.
class AdditionalFlag : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 100;
  static constexpr uint32_t kClassId = 9004;
  AdditionalFlag() : CNMessageBase(kNamespaceId, kClassId) {}

  std::string getKey() const { return getstring(2, 2); }
  void setKey(const std::string& v) { setstring(2, 2, v); }
  std::string getValue() const { return getstring(3, 6); }
  void setValue(const std::string& v) { setstring(3, 6, v); }
};

class AdditionalFlagList : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 100;
  static constexpr uint32_t kClassId = 10;
  AdditionalFlagList() : CNMessageBase(kNamespaceId, kClassId) {}

  std::vector<AdditionalFlag> getFlags() const { return getListAs<AdditionalFlag>(2, 2); }
  void setFlags(const std::vector<AdditionalFlag>& v) { setListOf(2, 2, v); }
};

class BrowseFlags : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 100;
  static constexpr uint32_t kClassId = 61;
  BrowseFlags() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<AdditionalFlagList> getAdditionalFlags() const {
    return getObjectAs<AdditionalFlagList>(2, 2);
  }
  void setAdditionalFlags(const AdditionalFlagList& v) { setObjectAccessor(2, 2, v); }
  int64_t getField14() const { return getint64(14); }
  void setField14(int64_t v) { setint64(14, 14, v); }
};

class BrowseViewSpec : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 100;
  static constexpr uint32_t kClassId = 63;
  BrowseViewSpec() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getCopyPrecedence() const { return getint64(1); }
  void setCopyPrecedence(int64_t v) { setint64(1, 1, v); }
  std::string getViewName() const { return getstring(2, 2); }
  void setViewName(const std::string& v) { setstring(2, 2, v); }
  std::optional<BrowseFlags> getFlags() const { return getObjectAs<BrowseFlags>(3, 6); }
  void setFlags(const BrowseFlags& v) { setObjectAccessor(3, 6, v); }
};

class TimeRange : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 100;
  static constexpr uint32_t kClassId = 64;
  TimeRange() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getToTime() const { return getint64(1); }
  void setToTime(int64_t v) { setint64(1, 1, v); }
  int64_t getFromTime() const { return getint64(2); }
  void setFromTime(int64_t v) { setint64(2, 2, v); }
};

class QueryFilter : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 100;
  static constexpr uint32_t kClassId = 71;
  QueryFilter() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<QueryRange> getRange() const { return getObjectAs<QueryRange>(2, 2); }
  void setRange(const QueryRange& v) { setObjectAccessor(2, 2, v); }
};

class Query : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 100;
  static constexpr uint32_t kClassId = 80;
  Query() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getQueryType() const { return getint64(1); }
  void setQueryType(int64_t v) { setint64(1, 1, v); }
  std::optional<QueryFilter> getFilter() const { return getObjectAs<QueryFilter>(5, 8); }
  void setFilter(const QueryFilter& v) { setObjectAccessor(5, 8, v); }
};

class BrowseRequest : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 100;
  static constexpr uint32_t kClassId = 92;
  BrowseRequest() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getRequestType() const { return getint64(1); }
  void setRequestType(int64_t v) { setint64(1, 1, v); }
  std::optional<TqEntities::AppIdEntity> getAppId() const {
    return getObjectAs<TqEntities::AppIdEntity>(3, 3);
  }
  void setAppId(const TqEntities::AppIdEntity& v) { setObjectAccessor(3, 3, v); }
  std::vector<BrowsePath> getPaths() const { return getListAs<BrowsePath>(4, 4); }
  void setPaths(const std::vector<BrowsePath>& v) { setListOf(4, 4, v); }
  std::optional<TimeRange> getTimeRange() const { return getObjectAs<TimeRange>(6, 6); }
  void setTimeRange(const TimeRange& v) { setObjectAccessor(6, 6, v); }
  std::optional<BrowseOptions> getOptions() const { return getObjectAs<BrowseOptions>(7, 7); }
  void setOptions(const BrowseOptions& v) { setObjectAccessor(7, 7, v); }
  std::optional<BrowseViewSpec> getViewSpec() const { return getObjectAs<BrowseViewSpec>(11, 11); }
  void setViewSpec(const BrowseViewSpec& v) { setObjectAccessor(11, 11, v); }
  std::vector<Query> getQueries() const { return getListAs<Query>(12, 12); }
  void setQueries(const std::vector<Query>& v) { setListOf(12, 12, v); }
};

// Details of a browsed item. The integers are read by index; their field
// numbers are this platform's.
class BrowseItemDetails : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 100;
  static constexpr uint32_t kClassId = 93;
  BrowseItemDetails() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getBackupTime() const { return getint64(2); }
  void setBackupTime(int64_t v) { setint64(2, 2, v); }
  int64_t getArchiveGroup() const { return getint64(11); }
  void setArchiveGroup(int64_t v) { setint64(23, 11, v); }
  int64_t getArchiveFileId() const { return getint64(12); }
  void setArchiveFileId(int64_t v) { setint64(12, 12, v); }
  int64_t getFileCount() const { return getint64(13); }
  void setFileCount(int64_t v) { setint64(13, 13, v); }
  int64_t getExtentCount() const { return getint64(44); }
  void setExtentCount(int64_t v) { setint64(44, 44, v); }
  std::optional<TqEntities::OmbrelEntity> getOmbrel() const {
    return getObjectAs<TqEntities::OmbrelEntity>(7, 10);
  }
  void setOmbrel(const TqEntities::OmbrelEntity& v) { setObjectAccessor(7, 10, v); }
  std::optional<IdxMetadata::IdxMetaData> getMetadata() const {
    return getObjectAs<IdxMetadata::IdxMetaData>(11, 14);
  }
  void setMetadata(const IdxMetadata::IdxMetaData& v) { setObjectAccessor(11, 14, v); }
  std::optional<BrowseFlags> getFlags() const { return getObjectAs<BrowseFlags>(22, 40); }
  void setFlags(const BrowseFlags& v) { setObjectAccessor(22, 40, v); }
};

// One item found by a browse.
class BrowseData : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 100;
  static constexpr uint32_t kClassId = 9003;
  BrowseData() : CNMessageBase(kNamespaceId, kClassId) {}

  std::string getName() const { return getstring(5, 5); }
  void setName(const std::string& v) { setstring(5, 5, v); }
  std::string getDisplayName() const { return getstring(6, 9); }
  void setDisplayName(const std::string& v) { setstring(6, 9, v); }
  std::string getPath() const { return getstring(7, 13); }
  void setPath(const std::string& v) { setstring(7, 13, v); }
  std::string getField8() const { return getstring(8, 17); }
  void setField8(const std::string& v) { setstring(8, 17, v); }
  std::optional<BrowseItemDetails> getDetails() const {
    return getObjectAs<BrowseItemDetails>(9, 21);
  }
  void setDetails(const BrowseItemDetails& v) { setObjectAccessor(9, 21, v); }
};

class AggregateResult : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 100;
  static constexpr uint32_t kClassId = 9002;
  AggregateResult() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getExpectedItemTotal() const { return getint64(5); }
  void setExpectedItemTotal(int64_t v) { setint64(5, 5, v); }
};

class BrowseResult : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 100;
  static constexpr uint32_t kClassId = 98;
  BrowseResult() : CNMessageBase(kNamespaceId, kClassId) {}

  bool hasAggregates() const { return isSet(2); }
  std::vector<AggregateResult> getAggregates() const { return getListAs<AggregateResult>(2, 5); }
  void setAggregates(const std::vector<AggregateResult>& v) { setListOf(2, 5, v); }
  bool hasData() const { return isSet(3); }
  std::vector<BrowseData> getData() const { return getListAs<BrowseData>(3, 6); }
  void setData(const std::vector<BrowseData>& v) { setListOf(3, 6, v); }
  void setData(std::vector<BrowseData>&& v) { setListOf(3, 6, std::move(v)); }
};

class BrowseResponse : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 100;
  static constexpr uint32_t kClassId = 9001;
  BrowseResponse() : CNMessageBase(kNamespaceId, kClassId) {}

  // 0 = usable.
  int64_t getStatus() const { return getint64(1); }
  void setStatus(int64_t v) { setint64(1, 1, v); }
  std::optional<BrowseResult> getResult() const { return getObjectAs<BrowseResult>(6, 9); }
  void setResult(const BrowseResult& v) { setObjectAccessor(6, 9, v); }
  void setResult(BrowseResult&& v) { setObjectAccessor(6, 9, std::move(v)); }
};

class BrowseResponseList : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 100;
  static constexpr uint32_t kClassId = 102;
  BrowseResponseList() : CNMessageBase(kNamespaceId, kClassId) {}

  std::vector<BrowseResponse> getResponses() const { return getListAs<BrowseResponse>(1, 1); }
  void setResponses(const std::vector<BrowseResponse>& v) { setListOf(1, 1, v); }
  void setResponses(std::vector<BrowseResponse>&& v) { setListOf(1, 1, std::move(v)); }
};

// Reads a browse reply without copying its lists: for each response of
// status 0 that holds a result, in order, `onResult` with the result's
// aggregate results (none when it has none), then `onItem` with each of its
// items, one at a time (each a copy of its own). The typed getters copy the
// whole list they return, and a reply may hold every item of a browse.
void ForEachResultItem(const BrowseResponseList& responses,
                       const std::function<void(const std::vector<AggregateResult>&)>& onResult,
                       const std::function<void(const BrowseData&)>& onItem);

}  // namespace databrowse
