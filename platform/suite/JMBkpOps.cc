#include "platform/suite/JMBkpOps.h"

#include <new>

#include "platform/log/LogWriter.h"
#include "platform/suite/TQBkpJobClient.h"

JMBkpOps::JMBkpOps(int connectionStatus, TQJobClientPtr jobClient, TQJobCtrlClientPtr jobCtrlClient)
    : connectionStatus_(connectionStatus),
      jobClient_(std::move(jobClient)),
      jobCtrlClient_(std::move(jobCtrlClient)) {}

int JMBkpOps::sendRequest(int request) {
  TQBkpJobClientPtr client = boost::dynamic_pointer_cast<TQBkpJobClient>(jobClient_);
  if (!client) {
    TQLOG(-1, "Job manager request %d not sent: no backup job client", request);
    return 1;
  }
  client->addJobManagerRequest(request);
  return 0;
}

JMBkpOpsPtr JMBkpOpsFactory::allocObj(int connectionStatus, TQJobClientPtr jobClient,
                                      TQJobCtrlClientPtr jobCtrlClient) {
  return JMBkpOpsPtr(new (std::nothrow) JMBkpOps(connectionStatus, std::move(jobClient),
                                                 std::move(jobCtrlClient)));
}
