#include "platform/priam/ScriptedPriam.h"

#include "platform/base/FXErrorUtil.h"

namespace TqCassandra {

namespace {

class ScriptedTransport : public IPriamTransport {
 public:
  ScriptedTransport(std::shared_ptr<ScriptedPriam> script, size_t session)
      : script_(std::move(script)), session_(session) {}

  CQiError start(const PriamStartSpec& spec) override { return script_->Start(session_, spec); }
  CQiError request(int kind, const std::string& resource, const std::string& body,
                   std::string& reply) override {
    return script_->HandleRequest(session_, kind, resource, body, reply);
  }
  CQiError stop() override { return script_->Stop(session_); }
  bool isRunning() const override { return script_->Running(session_); }
  void propertiesWritten(const std::string& path,
                         const std::map<std::string, std::string>& properties) override {
    script_->PropertiesWritten(session_, path, properties);
  }

 private:
  std::shared_ptr<ScriptedPriam> script_;
  size_t session_;
};

}  // namespace

void ScriptedPriam::SetReply(const std::string& resource, const std::string& text,
                             const std::string& confLocation) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[Key(confLocation, resource)] = Answer{CQiError::Success(), text};
}

void ScriptedPriam::SetError(const std::string& resource, const CQiError& error,
                             const std::string& text, const std::string& confLocation) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[Key(confLocation, resource)] = Answer{error, text};
}

void ScriptedPriam::SetAccessDenied(const std::string& resource, const std::string& confLocation) {
  SetError(resource,
           FXErrorUtil::ErrorWin32(FXLOC, 5, "Priam request %s: access denied", resource.c_str()),
           "Authentication failed", confLocation);
}

void ScriptedPriam::SetStartError(const CQiError& error, const std::string& confLocation) {
  std::lock_guard<std::mutex> lock(mutex_);
  startErrors_[confLocation] = error;
}

void ScriptedPriam::SetAccessDeniedAtStart(const std::string& confLocation) {
  SetStartError(FXErrorUtil::ErrorWin32(FXLOC, 5, "Priam refused authentication"), confLocation);
}

void ScriptedPriam::ClearScript() {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.clear();
  startErrors_.clear();
}

std::vector<ScriptedPriam::Session> ScriptedPriam::Sessions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_;
}

ScriptedPriam::Session ScriptedPriam::LastSession() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_.empty() ? Session() : sessions_.back();
}

std::vector<ScriptedPriam::Request> ScriptedPriam::AllRequests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Request> all;
  for (const auto& s : sessions_) all.insert(all.end(), s.requests.begin(), s.requests.end());
  return all;
}

PriamTransportFactory ScriptedPriam::Factory() {
  std::weak_ptr<ScriptedPriam> weak = shared_from_this();
  return [weak](const PriamUtilContext& context) -> std::unique_ptr<IPriamTransport> {
    auto self = weak.lock();
    if (!self) return nullptr;
    size_t index;
    {
      std::lock_guard<std::mutex> lock(self->mutex_);
      Session session;
      session.context = context;
      self->sessions_.push_back(session);
      index = self->sessions_.size() - 1;
    }
    return std::make_unique<ScriptedTransport>(self, index);
  };
}

const ScriptedPriam::Answer* ScriptedPriam::FindAnswer(const std::string& confLocation,
                                                       const std::string& resource) const {
  for (const std::string& location : {confLocation, std::string()}) {
    auto exact = answers_.find(Key(location, resource));
    if (exact != answers_.end()) return &exact->second;
    const Answer* best = nullptr;
    size_t bestLength = 0;
    for (const auto& a : answers_) {
      const std::string& scripted = a.first.second;
      if (a.first.first == location && !scripted.empty() && scripted.size() > bestLength &&
          resource.compare(0, scripted.size(), scripted) == 0) {
        best = &a.second;
        bestLength = scripted.size();
      }
    }
    if (best) return best;
    if (confLocation.empty()) break;
  }
  return nullptr;
}

CQiError ScriptedPriam::Start(size_t session, const PriamStartSpec& spec) {
  std::lock_guard<std::mutex> lock(mutex_);
  Session& s = sessions_.at(session);
  s.starts.push_back(spec);
  for (const std::string& location : {spec.confLocation, std::string()}) {
    auto e = startErrors_.find(location);
    if (e != startErrors_.end() && e->second.IsError()) {
      s.running = false;
      return e->second;
    }
  }
  s.running = true;
  return CQiError::Success();
}

CQiError ScriptedPriam::HandleRequest(size_t session, int kind, const std::string& resource,
                                      const std::string& body, std::string& reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  Session& s = sessions_.at(session);
  s.requests.push_back(Request{kind, resource, body});
  reply.clear();
  if (!s.running) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1062, "Priam is not running");
  }
  const Answer* answer = FindAnswer(s.context.confLocation, resource);
  if (!answer) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1168, "No scripted answer for Priam request %s",
                                   resource.c_str());
  }
  reply = answer->text;
  return answer->error;
}

CQiError ScriptedPriam::Stop(size_t session) {
  std::lock_guard<std::mutex> lock(mutex_);
  Session& s = sessions_.at(session);
  ++s.stops;
  s.running = false;
  return CQiError::Success();
}

bool ScriptedPriam::Running(size_t session) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_.at(session).running;
}

void ScriptedPriam::PropertiesWritten(size_t session, const std::string& path,
                                      const std::map<std::string, std::string>& properties) {
  std::lock_guard<std::mutex> lock(mutex_);
  Session& s = sessions_.at(session);
  s.properties = properties;
  s.propertiesFile = path;
  ++s.propertiesWrites;
}

}  // namespace TqCassandra
