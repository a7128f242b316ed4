#include "platform/network/TqNetworkScript.h"

#include <algorithm>

#include "platform/base/FXErrorUtil.h"

namespace {

std::mutex& ActiveMutex() {
  static std::mutex m;
  return m;
}
// The live scripts' engines, the newest last; the newest answers.
std::vector<std::shared_ptr<CTqNetworkScript::Engine>>& Engines() {
  static std::vector<std::shared_ptr<CTqNetworkScript::Engine>> engines;
  return engines;
}

CTqNetworkScript::Outcome Failure(const CQiError& error) {
  CTqNetworkScript::Outcome o;
  o.error = error;
  return o;
}
CTqNetworkScript::Outcome TimeOut() {
  CTqNetworkScript::Outcome o;
  o.timedOut = true;
  return o;
}

}  // namespace

CTqNetworkScript::CTqNetworkScript() : engine_(std::make_shared<Engine>()) {
  std::lock_guard<std::mutex> lock(ActiveMutex());
  Engines().push_back(engine_);
}

CTqNetworkScript::~CTqNetworkScript() {
  std::lock_guard<std::mutex> lock(ActiveMutex());
  auto& engines = Engines();
  engines.erase(std::remove(engines.begin(), engines.end(), engine_), engines.end());
}

std::shared_ptr<CTqNetworkScript::Engine> CTqNetworkScript::Active() {
  std::lock_guard<std::mutex> lock(ActiveMutex());
  return Engines().empty() ? nullptr : Engines().back();
}

void CTqNetworkScript::FailLaunch(const std::string& host, const CQiError& error) {
  std::lock_guard<std::mutex> lock(engine_->mutex_);
  engine_->launch_[host] = Failure(error);
}
void CTqNetworkScript::TimeOutLaunch(const std::string& host) {
  std::lock_guard<std::mutex> lock(engine_->mutex_);
  engine_->launch_[host] = TimeOut();
}
void CTqNetworkScript::FailSend(const std::string& host, const CQiError& error) {
  std::lock_guard<std::mutex> lock(engine_->mutex_);
  engine_->send_[host] = Failure(error);
}
void CTqNetworkScript::TimeOutSend(const std::string& host) {
  std::lock_guard<std::mutex> lock(engine_->mutex_);
  engine_->send_[host] = TimeOut();
}
void CTqNetworkScript::Reply(const std::string& host, const CNMessageBase& message) {
  Outcome o;
  o.message = std::make_shared<CNMessageBase>(message);
  std::lock_guard<std::mutex> lock(engine_->mutex_);
  engine_->receive_[host].push_back(o);
}
void CTqNetworkScript::FailReceive(const std::string& host, const CQiError& error) {
  std::lock_guard<std::mutex> lock(engine_->mutex_);
  engine_->receive_[host].push_back(Failure(error));
}
void CTqNetworkScript::TimeOutReceive(const std::string& host) {
  std::lock_guard<std::mutex> lock(engine_->mutex_);
  engine_->receive_[host].push_back(TimeOut());
}

std::vector<CTqNetworkScript::Event> CTqNetworkScript::Events() const {
  std::lock_guard<std::mutex> lock(engine_->mutex_);
  return engine_->events_;
}

std::vector<CTqNetworkScript::Event> CTqNetworkScript::Events(Event::Kind kind) const {
  std::vector<Event> out;
  for (const Event& e : Events()) {
    if (e.kind == kind) out.push_back(e);
  }
  return out;
}

const CTqNetworkScript::Engine::Rule* CTqNetworkScript::Engine::FindRule(
    const std::map<std::string, Rule>& rules, const std::string& host) const {
  auto it = rules.find(host);
  if (it == rules.end()) it = rules.find("");
  return it == rules.end() ? nullptr : &it->second;
}

CTqNetworkScript::Outcome CTqNetworkScript::Engine::Attach(
    const std::string& host, const CNSession::tqsExecuteRemoteCommandType& command,
    const std::string& localClient, int timeoutSecs) {
  std::lock_guard<std::mutex> lock(mutex_);
  Event e;
  e.kind = Event::kAttach;
  e.host = host;
  e.command = command;
  e.localClient = localClient;
  e.timeoutSecs = timeoutSecs;
  events_.push_back(e);
  const Rule* rule = FindRule(launch_, host);
  return rule ? *rule : Outcome();
}

CTqNetworkScript::Outcome CTqNetworkScript::Engine::Send(const std::string& host,
                                                         const CNMessageBase& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  Event e;
  e.kind = Event::kSend;
  e.host = host;
  e.message = std::make_shared<CNMessageBase>(message);
  events_.push_back(e);
  const Rule* rule = FindRule(send_, host);
  return rule ? *rule : Outcome();
}

CTqNetworkScript::Outcome CTqNetworkScript::Engine::Receive(const std::string& host) {
  std::lock_guard<std::mutex> lock(mutex_);
  Event e;
  e.kind = Event::kReceive;
  e.host = host;
  events_.push_back(e);
  auto it = receive_.find(host);
  if (it == receive_.end() || it->second.empty()) it = receive_.find("");
  if (it == receive_.end() || it->second.empty()) {
    return Failure(FXErrorUtil::ErrorWin32(FXLOC, 1460, "No scripted reply for %s", host.c_str()));
  }
  Outcome o = it->second.front();
  it->second.pop_front();
  return o;
}

void CTqNetworkScript::Engine::Disconnect(const std::string& host) {
  std::lock_guard<std::mutex> lock(mutex_);
  Event e;
  e.kind = Event::kDisconnect;
  e.host = host;
  events_.push_back(e);
}
