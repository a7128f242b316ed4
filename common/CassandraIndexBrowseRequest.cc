#include "common/CassandraIndexBrowseRequest.h"

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

}  // namespace TQCassandra
