#include <gtest/gtest.h>

#include "platform/msg/BrowseRecords.h"
#include "platform/msg/IndexMetadataRecords.h"
#include "support/RecordLayout.h"

namespace {

using namespace record_test;
using namespace IdxMetadata;
using namespace databrowse;

IdxMetaData TableEntry() {
  IdxViewInfo view;
  view.setViewName("DBView");
  view.setComponentId("guid-root");
  IdxObjectHeader header;
  header.setView(view);
  header.setObjectGuid("guid-path");
  header.setParentGuid("guid-parent");
  IdxRecordId id;
  id.setRecordGuid("guid-record");
  CassandraEncryptionInfo encryption;
  encryption.setKeyFile("/etc/dse/keys/system_key");
  encryption.setKeyFileContent("enc-content");
  encryption.setCipher("enc-cipher");
  encryption.setStrength(128);
  encryption.setKey("enc-key");
  encryption.setKeyId("enc-key-id");
  CassandraTableMetadata table;
  table.setTableName("orders");
  table.setCql("CREATE TABLE shop.orders (id int PRIMARY KEY);");
  table.setTableId("5bc52802-de25-35ed-aeab-188eecebb090");
  table.setEncrypted(1);
  table.setEncryption(encryption);
  IdxMetaData entry;
  entry.setHeader(header);
  entry.setRecordId(id);
  entry.setTableMetadata(table);
  return entry;
}

TEST(IndexMetadataRecords, TableEntryWithItsParts) {
  IdxMetaData entry = ExpectLayout(TableEntry(), {{1, 1, O}, {11, 11, O}, {49, 49, O}});
  ASSERT_TRUE(entry.getHeader().has_value());
  IdxObjectHeader header =
      ExpectLayout(*entry.getHeader(), {{12, 15, O}, {13, 16, S}, {14, 20, S}});
  EXPECT_EQ(header.getObjectGuid(), "guid-path");
  EXPECT_EQ(header.getParentGuid(), "guid-parent");
  ASSERT_TRUE(header.getView().has_value());
  IdxViewInfo view = ExpectLayout(*header.getView(), {{2, 5, S}, {3, 9, S}});
  EXPECT_EQ(view.getViewName(), "DBView");
  EXPECT_EQ(view.getComponentId(), "guid-root");
  ASSERT_TRUE(entry.getRecordId().has_value());
  EXPECT_EQ(ExpectLayout(*entry.getRecordId(), {{1, 1, S}}).getRecordGuid(), "guid-record");

  ASSERT_TRUE(entry.getTableMetadata().has_value());
  EXPECT_FALSE(entry.getKeyspaceMetadata().has_value());
  EXPECT_FALSE(entry.getNodeMetadata().has_value());
  CassandraTableMetadata table = ExpectLayout(
      *entry.getTableMetadata(), {{1, 1, S}, {2, 5, S}, {3, 9, S}, {4, 13, I}, {5, 14, O}});
  EXPECT_EQ(table.getTableName(), "orders");
  EXPECT_EQ(table.getCql(), "CREATE TABLE shop.orders (id int PRIMARY KEY);");
  EXPECT_EQ(table.getTableId(), "5bc52802-de25-35ed-aeab-188eecebb090") << "dashes kept";
  EXPECT_EQ(table.getEncrypted(), 1);
  ASSERT_TRUE(table.getEncryption().has_value());
  CassandraEncryptionInfo enc =
      ExpectLayout(*table.getEncryption(),
                   {{1, 1, S}, {2, 5, S}, {3, 9, S}, {4, 13, I}, {5, 14, S}, {6, 18, S}});
  EXPECT_EQ(enc.getKeyFile(), "/etc/dse/keys/system_key");
  EXPECT_EQ(enc.getKeyFileContent(), "enc-content");
  EXPECT_EQ(enc.getCipher(), "enc-cipher");
  EXPECT_EQ(enc.getStrength(), 128);
  EXPECT_EQ(enc.getKey(), "enc-key");
  EXPECT_EQ(enc.getKeyId(), "enc-key-id");
}

TEST(IndexMetadataRecords, KeyspaceAndNodeEntries) {
  CassandraReplicationInfo dc1;
  dc1.setDataCenter("dc1");
  dc1.setReplicationFactor(3);
  CassandraReplicationInfo r = ExpectLayout(dc1, {{1, 1, S}, {2, 5, I}});
  EXPECT_EQ(r.getDataCenter(), "dc1");
  EXPECT_EQ(r.getReplicationFactor(), 3);

  CassandraKeyspaceMetadata keyspace;
  keyspace.setKeyspaceName("shop");
  keyspace.setCql("CREATE KEYSPACE shop WITH replication = {...};");
  keyspace.setReplication({dc1, dc1});
  keyspace.setReplicationClass("NetworkTopologyStrategy");
  IdxMetaData entry;
  entry.setKeyspaceMetadata(keyspace);
  entry = ExpectLayout(entry, {{48, 48, O}});
  CassandraKeyspaceMetadata k =
      ExpectLayout(*entry.getKeyspaceMetadata(), {{1, 1, S}, {2, 5, S}, {3, 9, L}, {4, 10, S}});
  EXPECT_EQ(k.getKeyspaceName(), "shop");
  EXPECT_EQ(k.getCql(), "CREATE KEYSPACE shop WITH replication = {...};");
  EXPECT_EQ(k.getReplication().size(), 2u);
  EXPECT_EQ(k.getReplicationClass(), "NetworkTopologyStrategy");

  CassandraNodeMetadata node;
  node.setClientName("node1");
  node.setBackupTime(1700000000);
  IdxMetaData nodeEntry;
  nodeEntry.setNodeMetadata(node);
  nodeEntry = ExpectLayout(nodeEntry, {{57, 57, O}});
  CassandraNodeMetadata n = ExpectLayout(*nodeEntry.getNodeMetadata(), {{1, 1, S}, {2, 5, I}});
  EXPECT_EQ(n.getClientName(), "node1");
  EXPECT_EQ(n.getBackupTime(), 1700000000);
}

// The request the index readers send, as the backup's index writer describes
// it; the restore side adds the time range and the copy precedence.
BrowseRequest ReaderRequest() {
  TqEntities::AppIdEntity app;
  app.setOmbrelId(2);
  app.setSubclientId(-1);
  app.setBackupsetId(11);
  app.setInstanceId(21);
  app.setAppType(64);
  app.setClientId(31);
  BrowseOptions options;
  options.setField2(1);
  options.setIncludeMetadata(1);
  options.setField18(2);
  BrowseFlags flags;
  flags.setField14(2);
  BrowseViewSpec view;
  view.setViewName("NodeMetaData");
  view.setFlags(flags);
  QueryRange range;
  range.setField1(0);
  range.setField2(0);
  range.setField3(4294967295LL);
  QueryFilter filter;
  filter.setRange(range);
  Query query;
  query.setQueryType(0);
  query.setFilter(filter);
  BrowseRequest request;
  request.setRequestType(1);
  request.setAppId(app);
  request.setPaths({BrowsePath("/node1"), BrowsePath("/node2")});
  request.setOptions(options);
  request.setViewSpec(view);
  request.setQueries({query});
  return request;
}

TEST(BrowseRecords, ReaderRequestReadsBackFieldForField) {
  std::string xml;
  ASSERT_EQ(ReaderRequest().serialize(xml, false), 0);
  BrowseRequest read;
  ASSERT_EQ(read.unserialize(xml), 0);
  ExpectLayout(read, {{1, 1, I}, {3, 3, O}, {4, 4, L}, {7, 7, O}, {11, 11, O}, {12, 12, L}});
  EXPECT_EQ(read.getRequestType(), 1);

  ASSERT_TRUE(read.getAppId().has_value());
  TqEntities::AppIdEntity app = *read.getAppId();
  EXPECT_EQ(app.getOmbrelId(), 2);
  EXPECT_EQ(app.getSubclientId(), -1);
  EXPECT_EQ(app.getBackupsetId(), 11);
  EXPECT_EQ(app.getInstanceId(), 21);
  EXPECT_EQ(app.getAppType(), 64);
  EXPECT_EQ(app.getClientId(), 31);

  std::vector<BrowsePath> paths = read.getPaths();
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_EQ(ExpectLayout(paths[0], {{1, 1, S}}).getPath(), "/node1");
  EXPECT_EQ(paths[1].getPath(), "/node2");

  ASSERT_TRUE(read.getOptions().has_value());
  BrowseOptions options = ExpectLayout(*read.getOptions(), {{2, 2, I}, {11, 11, I}, {18, 18, I}});
  EXPECT_EQ(options.getField2(), 1);
  EXPECT_EQ(options.getIncludeMetadata(), 1);
  EXPECT_EQ(options.getField18(), 2);

  ASSERT_TRUE(read.getViewSpec().has_value());
  BrowseViewSpec view = ExpectLayout(*read.getViewSpec(), {{2, 2, S}, {3, 6, O}});
  EXPECT_EQ(view.getViewName(), "NodeMetaData");
  ASSERT_TRUE(view.getFlags().has_value());
  EXPECT_EQ(ExpectLayout(*view.getFlags(), {{14, 14, I}}).getField14(), 2);

  std::vector<Query> queries = read.getQueries();
  ASSERT_EQ(queries.size(), 1u);
  Query query = ExpectLayout(queries[0], {{1, 1, I}, {5, 8, O}});
  EXPECT_EQ(query.getQueryType(), 0);
  ASSERT_TRUE(query.getFilter().has_value());
  QueryFilter filter = ExpectLayout(*query.getFilter(), {{2, 2, O}});
  ASSERT_TRUE(filter.getRange().has_value());
  QueryRange range = ExpectLayout(*filter.getRange(), {{1, 1, I}, {2, 2, I}, {3, 3, I}});
  EXPECT_EQ(range.getField1(), 0);
  EXPECT_EQ(range.getField2(), 0);
  EXPECT_EQ(range.getField3(), 4294967295LL) << "the unsigned 32-bit maximum, not -1";
}

TEST(BrowseRecords, RestoreSideAdditions) {
  BrowseRequest request = ReaderRequest();
  TimeRange times;
  times.setToTime(2000);
  times.setFromTime(1000);
  request.setTimeRange(times);
  BrowseViewSpec view = *request.getViewSpec();
  view.setCopyPrecedence(1);
  request.setViewSpec(view);
  BrowseOptions options = *request.getOptions();
  options.setField62(1);
  request.setOptions(options);
  BrowseRequest read = ExpectLayout(
      request, {{1, 1, I}, {3, 3, O}, {4, 4, L}, {6, 6, O}, {7, 7, O}, {11, 11, O}, {12, 12, L}});
  TimeRange t = ExpectLayout(*read.getTimeRange(), {{1, 1, I}, {2, 2, I}});
  EXPECT_EQ(t.getToTime(), 2000);
  EXPECT_EQ(t.getFromTime(), 1000);
  EXPECT_EQ(
      ExpectLayout(*read.getViewSpec(), {{1, 1, I}, {2, 2, S}, {3, 6, O}}).getCopyPrecedence(), 1);
  EXPECT_EQ(read.getOptions()->getField62(), 1);
}

TEST(BrowseRecords, ResponseWithItems) {
  AdditionalFlag flag;
  flag.setKey("afileType");
  flag.setValue("2");
  AdditionalFlagList flagList;
  flagList.setFlags({flag});
  BrowseFlags detailFlags;
  detailFlags.setAdditionalFlags(flagList);
  TqEntities::OmbrelEntity ombrel;
  ombrel.setOmbrelId(2);
  BrowseItemDetails details;
  details.setBackupTime(1700000000);
  details.setArchiveGroup(11);
  details.setArchiveFileId(12);
  details.setFileCount(13);
  details.setExtentCount(44);
  details.setOmbrel(ombrel);
  details.setMetadata(TableEntry());
  details.setFlags(detailFlags);
  BrowseData data;
  data.setName("orders");
  data.setDisplayName("orders (display)");
  data.setPath("/c/shop/orders");
  data.setField8("field eight");
  data.setDetails(details);
  AggregateResult aggregate;
  aggregate.setExpectedItemTotal(5);
  BrowseResult result;
  result.setAggregates({aggregate});
  result.setData({data});
  BrowseResponse response;
  response.setStatus(0);
  response.setResult(result);
  BrowseResponseList list;
  list.setResponses({response, response});

  BrowseResponseList readList = ExpectLayout(list, {{1, 1, L}});
  ASSERT_EQ(readList.getResponses().size(), 2u);
  BrowseResponse r = ExpectLayout(readList.getResponses()[0], {{1, 1, I}, {6, 9, O}});
  EXPECT_EQ(r.getStatus(), 0);
  BrowseResult res = ExpectLayout(*r.getResult(), {{2, 5, L}, {3, 6, L}});
  EXPECT_TRUE(res.hasAggregates());
  EXPECT_TRUE(res.hasData());
  EXPECT_FALSE(BrowseResult().hasData());
  EXPECT_EQ(ExpectLayout(res.getAggregates()[0], {{5, 5, I}}).getExpectedItemTotal(), 5);
  BrowseData d =
      ExpectLayout(res.getData()[0], {{5, 5, S}, {6, 9, S}, {7, 13, S}, {8, 17, S}, {9, 21, O}});
  EXPECT_EQ(d.getName(), "orders");
  EXPECT_EQ(d.getDisplayName(), "orders (display)");
  EXPECT_EQ(d.getPath(), "/c/shop/orders");
  EXPECT_EQ(d.getField8(), "field eight");
  BrowseItemDetails det = ExpectLayout(*d.getDetails(), {{2, 2, I},
                                                         {23, 11, I},
                                                         {12, 12, I},
                                                         {13, 13, I},
                                                         {44, 44, I},
                                                         {7, 10, O},
                                                         {11, 14, O},
                                                         {22, 40, O}});
  // The integers are read by index alone.
  EXPECT_EQ(det.getint64(2), 1700000000);
  EXPECT_EQ(det.getint64(11), 11);
  EXPECT_EQ(det.getint64(12), 12);
  EXPECT_EQ(det.getint64(13), 13);
  EXPECT_EQ(det.getint64(44), 44);
  ASSERT_TRUE(det.getOmbrel().has_value());
  EXPECT_EQ(det.getOmbrel()->getint64(0), 2);
  EXPECT_EQ(det.getMetadata(), TableEntry());
  ASSERT_TRUE(det.getFlags().has_value());
  BrowseFlags f = ExpectLayout(*det.getFlags(), {{2, 2, O}});
  AdditionalFlagList fl = ExpectLayout(*f.getAdditionalFlags(), {{2, 2, L}});
  AdditionalFlag a = ExpectLayout(fl.getFlags()[0], {{2, 2, S}, {3, 6, S}});
  EXPECT_EQ(a.getKey(), "afileType");
  EXPECT_EQ(a.getValue(), "2");
}

// A reply of three responses: usable with two items (one of another class
// in between), failed (status 1), and usable without a result; then a
// usable one with one item and no aggregates.
BrowseResponseList ReplyOfSeveralResponses() {
  auto item = [](const std::string& path, int64_t afile) {
    BrowseData data;
    data.setPath(path);
    BrowseItemDetails details;
    details.setArchiveFileId(afile);
    data.setDetails(details);
    return data;
  };
  std::vector<BrowseResponse> responses(4);
  BrowseResult first;
  AggregateResult aggregate;
  aggregate.setExpectedItemTotal(2);
  first.setAggregates({aggregate});
  std::vector<BrowseData> items = {item("/a", 1), item("/b", 2)};
  first.setData(std::move(items));
  first.getlistobject(3, 6, true)
      ->insert(first.getlistobject(3, 6, true)->begin() + 1, AggregateResult());
  responses[0].setStatus(0);
  responses[0].setResult(std::move(first));
  BrowseResult failed;
  failed.setData({item("/failed", 3)});
  responses[1].setStatus(1);
  responses[1].setResult(failed);
  responses[2].setStatus(0);
  BrowseResult last;
  last.setData({item("/c", 4)});
  responses[3].setStatus(0);
  responses[3].setResult(last);
  BrowseResponseList list;
  list.setResponses(std::move(responses));
  return list;
}

TEST(BrowseRecords, RepliesAreReadInPlaceAsTheTypedGettersReadThem) {
  const BrowseResponseList reply = ReplyOfSeveralResponses();
  std::vector<std::string> inPlace;
  ForEachResultItem(
      reply,
      [&](const std::vector<AggregateResult>& aggregates) {
        inPlace.push_back("result " + std::to_string(aggregates.size()) + " " +
                          (aggregates.empty()
                               ? std::string()
                               : std::to_string(aggregates.front().getExpectedItemTotal())));
      },
      [&](const BrowseData& data) {
        inPlace.push_back(data.getPath() + " " +
                          std::to_string(data.getDetails()->getArchiveFileId()));
      });
  std::vector<std::string> typed;
  for (const BrowseResponse& response : reply.getResponses()) {
    if (response.getStatus() != 0) continue;
    std::optional<BrowseResult> result = response.getResult();
    if (!result) continue;
    const std::vector<AggregateResult> aggregates = result->getAggregates();
    typed.push_back("result " + std::to_string(aggregates.size()) + " " +
                    (aggregates.empty()
                         ? std::string()
                         : std::to_string(aggregates.front().getExpectedItemTotal())));
    for (const BrowseData& data : result->getData()) {
      typed.push_back(data.getPath() + " " + std::to_string(data.getDetails()->getArchiveFileId()));
    }
  }
  EXPECT_EQ(inPlace, (std::vector<std::string>{"result 1 2", "/a 1", "/b 2", "result 0 ", "/c 4"}));
  EXPECT_EQ(inPlace, typed);
}

TEST(BrowseRecords, ListsAndRecordsMovedInAreTheCopiesThatWouldHaveBeenMade) {
  // Moving a list or a record into a field gives the field what copying it
  // gives; what was moved from is left empty.
  std::vector<BrowseData> items(3);
  for (size_t i = 0; i < items.size(); ++i) items[i].setPath("/p" + std::to_string(i));
  BrowseResult copied, moved;
  copied.setData(items);
  moved.setData(std::move(items));
  EXPECT_TRUE(items.empty());
  EXPECT_EQ(moved, copied);
  ASSERT_EQ(moved.getData().size(), 3u);
  EXPECT_EQ(moved.getData()[2].getPath(), "/p2");

  BrowseResponse copiedResponse, movedResponse;
  copiedResponse.setResult(copied);
  movedResponse.setResult(std::move(moved));
  EXPECT_EQ(movedResponse, copiedResponse);
  // A record moved in from inside the record itself.
  CNMessageBase* inside = movedResponse.getObjectAccessor(6, 9, false, 0, 0);
  ASSERT_NE(inside, nullptr);
  movedResponse.setObjectAccessor(6, 9, std::move(*inside));
  EXPECT_EQ(movedResponse, copiedResponse);
}

}  // namespace
