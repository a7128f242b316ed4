#include "platform/suite/ProcessScript.h"

#include "platform/suite/ClientContext.h"

CProcessScript::CProcessScript() {
  previous_ =
      TqProcess::SetHook([this](const std::string& command, std::string& out, std::string& err,
                                int& status) { return Respond(command, out, err, status); });
}

CProcessScript::~CProcessScript() { TqProcess::SetHook(std::move(previous_)); }

void CProcessScript::Add(Match match, const std::string& text, const Answer& answer, int times) {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_.push_back(Rule{match, text, answer, times});
}

void CProcessScript::SetDefault(const Answer& answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  default_ = answer;
  hasDefault_ = true;
}

void CProcessScript::SetPassThrough(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  passThrough_ = on;
}

std::vector<CProcessScript::Call> CProcessScript::Calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

std::vector<std::string> CProcessScript::Commands() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  for (const auto& c : calls_) out.push_back(c.command);
  return out;
}

bool CProcessScript::Respond(const std::string& command, std::string& out, std::string& err,
                             int& status) {
  CClientContext::Ptr context = CClientContext::Current();
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back(Call{command, context ? context->clientName : std::string()});
  for (auto& rule : rules_) {
    if (rule.remaining == 0) continue;
    bool hit = rule.match == kExact    ? command == rule.text
               : rule.match == kPrefix ? command.compare(0, rule.text.size(), rule.text) == 0
                                       : command.find(rule.text) != std::string::npos;
    if (!hit) continue;
    if (rule.remaining > 0) --rule.remaining;
    out = rule.answer.out;
    err = rule.answer.err;
    status = rule.answer.status;
    return true;
  }
  if (passThrough_) return false;
  if (hasDefault_) {
    out = default_.out;
    err = default_.err;
    status = default_.status;
  } else {
    out.clear();
    err = "command not scripted: " + command;
    status = 127;
  }
  return true;
}
