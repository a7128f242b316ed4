#pragma once

#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/msg/BrowseRecords.h"
#include "platform/msg/EntityRecords.h"

namespace TQCassandra {

// The browse request with which the plug-in reads its own index views back
// ("NodeMetaData" for the node backup times, "DBView" for the schemas): request
// type 1, the job's application, one browse path per entry looked up, options
// 2 = 1, 11 = 1 and 18 = 2, the view with flags 14 = 2, and one query over the
// whole range (0 to 4294967295). Readers that need more (a time range, a copy
// precedence) set it on the result.
databrowse::BrowseRequest MakeIndexViewBrowseRequest(const std::string& viewName,
                                                     const std::vector<std::string>& paths,
                                                     const TqEntities::AppIdEntity& application);

// Runs one browse of an index view: the browse client started on `request`,
// indexing version 2 required, no restore vector; the request and the answer
// are logged at level 3. Error 1627 with the step's text on any failure.
CQiError RunIndexViewBrowse(const databrowse::BrowseRequest& request,
                            databrowse::BrowseResponseList& responses);

}  // namespace TQCassandra
