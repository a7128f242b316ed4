#include "common/CassandraIndexBrowseRequest.h"

#include "platform/base/FXErrorUtil.h"
#include "platform/index/IdxBrowseClient.h"
#include "platform/log/LogWriter.h"

namespace TQCassandra {

databrowse::BrowseRequest MakeIndexViewBrowseRequest(const std::string& viewName,
                                                     const std::vector<std::string>& paths,
                                                     const TqEntities::AppIdEntity& application) {
  databrowse::BrowseRequest request;
  request.setRequestType(1);
  request.setAppId(application);

  std::vector<databrowse::BrowsePath> browsePaths;
  browsePaths.reserve(paths.size());
  for (const auto& path : paths) browsePaths.emplace_back(path);
  request.setPaths(browsePaths);

  databrowse::BrowseOptions options;
  options.setField2(1);
  options.setIncludeMetadata(1);
  options.setField18(2);
  request.setOptions(options);

  databrowse::BrowseFlags flags;
  flags.setField14(2);
  databrowse::BrowseViewSpec view;
  view.setViewName(viewName);
  view.setFlags(flags);
  request.setViewSpec(view);

  // The whole range: the upper bound is the unsigned 32-bit maximum, not -1.
  databrowse::QueryRange range;
  range.setField1(0);
  range.setField2(0);
  range.setField3(4294967295LL);
  databrowse::QueryFilter filter;
  filter.setRange(range);
  databrowse::Query query;
  query.setQueryType(0);
  query.setFilter(filter);
  request.setQueries({query});
  return request;
}

CQiError RunIndexViewBrowse(const databrowse::BrowseRequest& request,
                            databrowse::BrowseResponseList& responses) {
  IdxBrowseClient browser;
  if (browser.Initialize(request, nullptr, 2000, nullptr, nullptr) != 0 || browser.isInitFailed()) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 1627, "Browse init failed: unable to check whether super browse is applicable");
  }
  TQLOG(0, " Initialized ");
  if (!browser.isIndexingV2BrowseRequest()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1627,
                                   "Unable to do request: unsupported indexing version");
  }
  browser.setCreateRestorVectorFlag(false);
  TQLOG(0, "Launching Browse to get the schemas");
  if (g_ptrLogWriter && g_ptrLogWriter->GetLevel() >= 3) {
    std::string xml;
    request.serialize(xml);
    TQLOG(3, "input:\n%s\n", xml.c_str());
  }
  if (browser.Browse(nullptr, &responses) != 0) {
    TQLOG(-1, " FAILED BROWSE");
    return FXErrorUtil::ErrorWin32(FXLOC, 1627, "failed to  browse dbview ");
  }
  if (g_ptrLogWriter && g_ptrLogWriter->GetLevel() >= 3) {
    std::string xml;
    responses.serialize(xml);
    TQLOG(3, "Received response [%s]", xml.c_str());
  }
  return CQiError::Success();
}

}  // namespace TQCassandra
