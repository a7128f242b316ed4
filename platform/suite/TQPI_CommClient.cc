#include "platform/suite/TQPI_CommClient.h"

#include "platform/suite/ClientContext.h"

CQiString TQPI_CommClient::getJobResultsDirectory(const char* clientName) {
  return CQiString(CClientContext::JobResultsDirectory(clientName ? clientName : ""));
}
