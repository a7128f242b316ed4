#include "platform/app/App_ExecuteSP.h"

#include <map>

#include "platform/app/CentralServerProcedures.h"
#include "platform/log/LogWriter.h"

namespace {

struct SScripted {
  bool active = false;
  int result = 0;  // 0: answer with `reply`
  std::string errorText;
  std::string reply;
  int skipCalls = 0;
};

struct SSwitches {
  std::mutex mutex;
  SScripted next;
  std::map<uint32_t, SScripted> byProcedure;
  std::vector<App_ExecuteSP::SCall> calls;
};

SSwitches& Switches() {
  static SSwitches switches;
  return switches;
}

}  // namespace

int App_ExecuteSP::executeStoredProcedure(uint32_t procedureId, const std::string& requestXml,
                                          std::string& responseXml, void*) {
  SScripted scripted;
  {
    SSwitches& s = Switches();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.next.active) {
      scripted = s.next;
      s.next = SScripted();
    } else {
      auto it = s.byProcedure.find(procedureId);
      if (it != s.byProcedure.end()) {
        if (it->second.skipCalls > 0) {
          --it->second.skipCalls;
        } else {
          scripted = it->second;
        }
      }
    }
  }

  int result = 0;
  std::string reply;
  std::string errorText;
  if (scripted.active) {
    result = scripted.result;
    errorText = scripted.errorText;
    reply = scripted.reply;
  } else {
    result = CCentralServerProcedures::Execute(procedureId, requestXml, reply, errorText);
  }
  if (result == 0) {
    responseXml = reply;
    setErrorString("");
  } else {
    setErrorString(errorText);
    TQLOG(1, "Stored procedure 0x%08X failed with %d: %s", procedureId, result, errorText.c_str());
  }

  SSwitches& s = Switches();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.calls.push_back(SCall{procedureId, requestXml, result});
  return result;
}

void App_ExecuteSP::FailNextCall(int result, const std::string& errorText) {
  SSwitches& s = Switches();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.next = SScripted{true, result != 0 ? result : 1, errorText, "", 0};
}

void App_ExecuteSP::FailProcedure(uint32_t procedureId, int result, const std::string& errorText,
                                  int skipCalls) {
  SSwitches& s = Switches();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.byProcedure[procedureId] = SScripted{true, result != 0 ? result : 1, errorText, "", skipCalls};
}

void App_ExecuteSP::ReplyProcedure(uint32_t procedureId, const std::string& replyXml,
                                   int skipCalls) {
  SSwitches& s = Switches();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.byProcedure[procedureId] = SScripted{true, 0, "", replyXml, skipCalls};
}

void App_ExecuteSP::ClearFailures() {
  SSwitches& s = Switches();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.next = SScripted();
  s.byProcedure.clear();
}

std::vector<App_ExecuteSP::SCall> App_ExecuteSP::Calls() {
  SSwitches& s = Switches();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.calls;
}

void App_ExecuteSP::ClearCalls() {
  SSwitches& s = Switches();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.calls.clear();
}
