#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/app/AdaptersBase.h"

// Runs the central server's stored procedures (CCentralServerProcedures). The
// request and the reply travel as XML text, as they would on a network.
//
// Tests can make calls fail: the next call of any procedure, or the calls of
// one procedure (after letting some through), either with a result code and
// an error text or with a reply text of their choice. The switches and the
// call log are process-wide.
class App_ExecuteSP : public AdaptersBase {
 public:
  App_ExecuteSP() = default;

  // Runs procedure `procedureId` with the request's XML text. 0 on success,
  // with `responseXml` filled; any other value is a failure whose text
  // getErrorString gives, and `responseXml` is left as it was. `context` is
  // not used.
  int executeStoredProcedure(uint32_t procedureId, const std::string& requestXml,
                             std::string& responseXml, void* context = nullptr);

  // ---- test switches ----
  // The next call (of any procedure) fails with `result` (non-zero).
  static void FailNextCall(int result, const std::string& errorText);
  // Calls of the procedure fail with `result` (non-zero) once `skipCalls`
  // calls of it have run normally; until ClearFailures.
  static void FailProcedure(uint32_t procedureId, int result, const std::string& errorText,
                            int skipCalls = 0);
  // Calls of the procedure succeed with `replyXml` as their reply, without
  // running, once `skipCalls` calls of it have run normally; until
  // ClearFailures.
  static void ReplyProcedure(uint32_t procedureId, const std::string& replyXml, int skipCalls = 0);
  static void ClearFailures();

  // Every call since ClearCalls: procedure, request text and result.
  struct SCall {
    uint32_t procedureId = 0;
    std::string requestXml;
    int result = 0;
  };
  static std::vector<SCall> Calls();
  static void ClearCalls();
};
