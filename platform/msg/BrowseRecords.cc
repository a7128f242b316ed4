#include "platform/msg/BrowseRecords.h"

#include "platform/msg/MessageCatalog.h"

namespace {

using namespace databrowse;

// The class ids 9001 to 9004 are this platform's own: the index builds these
// records, and its catalogue fixes their tags, not their class ids.
const CMessageCatalogRegistration kBrowseRecords{
    CMessageCatalog::EntryOf<BrowsePath>("BrowsePath"),
    CMessageCatalog::EntryOf<BrowseOptions>("BrowseOptions"),
    CMessageCatalog::EntryOf<QueryRange>("QueryRange", 0x64536ED6),
    CMessageCatalog::EntryOf<AdditionalFlag>("AdditionalFlag"),
    CMessageCatalog::EntryOf<AdditionalFlagList>("AdditionalFlagList"),
    CMessageCatalog::EntryOf<BrowseFlags>("BrowseFlags", 0x6460234E),
    CMessageCatalog::EntryOf<BrowseViewSpec>("BrowseViewSpec", 0x6479E812),
    CMessageCatalog::EntryOf<TimeRange>("TimeRange"),
    CMessageCatalog::EntryOf<QueryFilter>("QueryFilter", 0x64ED92E3),
    CMessageCatalog::EntryOf<Query>("Query"),
    CMessageCatalog::EntryOf<BrowseRequest>("BrowseRequest"),
    CMessageCatalog::EntryOf<BrowseItemDetails>("BrowseItemDetails", 0x64D022B6),
    CMessageCatalog::EntryOf<BrowseData>("BrowseData"),
    CMessageCatalog::EntryOf<AggregateResult>("AggregateResult"),
    CMessageCatalog::EntryOf<BrowseResult>("BrowseResult"),
    CMessageCatalog::EntryOf<BrowseResponse>("BrowseResponse"),
    CMessageCatalog::EntryOf<BrowseResponseList>("BrowseResponseList"),
};

}  // namespace

namespace databrowse {

void ForEachResultItem(const BrowseResponseList& responses,
                       const std::function<void(const std::vector<AggregateResult>&)>& onResult,
                       const std::function<void(const BrowseData&)>& onItem) {
  const std::vector<CNMessageBase>* list = responses.getlistobject(1, 1);
  if (list == nullptr) return;
  for (const CNMessageBase& response : *list) {
    if (response.getNamespaceId() != BrowseResponse::kNamespaceId ||
        response.getClassId() != BrowseResponse::kClassId) {
      continue;
    }
    // BrowseResponse::getStatus and getResult, read in place.
    if (response.getint64(1) != 0) continue;
    const CNMessageBase* result = response.getObjectAccessor(6, 9);
    if (result == nullptr || result->getNamespaceId() != BrowseResult::kNamespaceId ||
        result->getClassId() != BrowseResult::kClassId) {
      continue;
    }
    // BrowseResult::getAggregates and getData.
    onResult(result->getListAs<AggregateResult>(2, 5));
    const std::vector<CNMessageBase>* items = result->getlistobject(3, 6);
    if (items == nullptr) continue;
    for (const CNMessageBase& element : *items) {
      std::optional<BrowseData> item = RecordAs<BrowseData>(element);
      if (item) onItem(*item);
    }
  }
}

}  // namespace databrowse
