#pragma once

#include <boost/shared_ptr.hpp>

#include "platform/suite/TQJobClient.h"
#include "platform/suite/TQJobCtrlClient.h"

// Backup operations of the job manager that a backup phase may ask for.
// A request is staged on the job's backup job client (TQBkpJobClient) and
// reaches the job manager with that client's next updateInfo.
class JMBkpOps {
 public:
  enum Request {
    kRequestPostOps = 2,  // run the post-operations phase after this one
  };

  JMBkpOps(int connectionStatus, TQJobClientPtr jobClient, TQJobCtrlClientPtr jobCtrlClient);

  // Stages the request. 0 on success; non-zero when there is no backup job
  // client to carry it.
  int sendRequest(int request);

  int getConnectionStatus() const { return connectionStatus_; }

 private:
  int connectionStatus_;
  TQJobClientPtr jobClient_;
  TQJobCtrlClientPtr jobCtrlClient_;
};

typedef boost::shared_ptr<JMBkpOps> JMBkpOpsPtr;

class JMBkpOpsFactory {
 public:
  // A new operations object over the job's clients (`connectionStatus` 0: the
  // job manager is reached through them).
  static JMBkpOpsPtr allocObj(int connectionStatus, TQJobClientPtr jobClient,
                              TQJobCtrlClientPtr jobCtrlClient);
};
