#pragma once

#include <string>

#include "platform/base/QiError.h"
#include "platform/framework/FrameworkTypes.h"
#include "platform/multinode/ItemConsumer.h"

namespace TQCassandra {

// What one collect-file generation hands the directory walk and the split.
struct CassandraCollectFileContext {
  // The flat collect file as an item consumer.
  CItemConsumerPtr consumer;
  // Picks the collect-file kind: "Tot" for a full backup, else "Inc".
  TQBkpLevel level = TQBkpLevel_Full;
  // Directory of the collect files.
  std::string jobResultsDir;
  // Path of the flat collect file, as the entries' errors name it; the walk
  // callback makes it from the two above when it is empty.
  std::string collectFilePath;
  // The first entry the walk could not write; it fails the generation.
  CQiError error;
};

}  // namespace TQCassandra
