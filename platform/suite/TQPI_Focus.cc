#include "platform/suite/TQPI_Focus.h"

#include "platform/suite/ClientContext.h"

CQiString TQPI_Focus::getFocusClientName(bool) { return CQiString(CClientContext::ClientName()); }

CQiString TQPI_Focus::getFocusHostName() { return CQiString(CClientContext::HostName()); }

uint64_t TQPI_Focus::getFocusClientId() { return CClientContext::ClientId(); }
