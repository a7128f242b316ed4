#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "platform/base/QiError.h"
#include "platform/multinode/ItemConsumer.h"

// One collection whose flat collect file a split turns into numbered collect
// files. The split reads `collectFileConsumer`; the other fields are kept for
// the callers that fill them.
struct COutputResources {
  int outputId = 0;
  std::string name;
  std::string directory;
  CItemConsumerPtr consumer;
  CItemConsumerPtr collectFileConsumer;  // the flat collect file (or a chain to it)
  CItemConsumerPtr auxConsumer1;
  CItemConsumerPtr auxConsumer2;
};

// A split of flat collect files into numbered collect files.
class ISplitCollectFiles {
 public:
  virtual ~ISplitCollectFiles() = default;
  // Makes the numbered collect files.
  virtual CQiError SplitCollectFiles() = 0;
  // m such that the split made m + 1 files, numbered 1 to m + 1; -1 before a
  // split succeeded.
  virtual int GetLastCollectFileIndex() const = 0;
};
typedef boost::shared_ptr<ISplitCollectFiles> ISplitCollectFilesPtr;
