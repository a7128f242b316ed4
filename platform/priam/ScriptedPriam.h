#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/priam/IPriamTransport.h"

namespace TqCassandra {

// A Priam stand-in for tests that answers from a script and records what the
// utilities did. Install it for every new PriamUtil with
//   auto priam = std::make_shared<ScriptedPriam>();
//   ScopedPriamTransportFactory guard(priam->Factory());
// Each utility made while it is installed gets its own session; the script is
// shared. Replies are found by the exact resource first, then by the longest
// scripted resource that begins the request ("snapshot" answers
// "snapshot?SnapID=1"). A script entry may be limited to the utilities of one
// configuration location.
class ScriptedPriam : public std::enable_shared_from_this<ScriptedPriam> {
 public:
  struct Request {
    int kind = 0;
    std::string resource;
    std::string body;
  };
  // Everything one utility did.
  struct Session {
    PriamUtilContext context;
    std::map<std::string, std::string> properties;  // the last set written
    std::string propertiesFile;
    int propertiesWrites = 0;
    std::vector<PriamStartSpec> starts;  // every start attempt, in order
    int stops = 0;
    bool running = false;
    std::vector<Request> requests;
  };

  // Success with `text` for `resource`.
  void SetReply(const std::string& resource, const std::string& text,
                const std::string& confLocation = std::string());
  // Failure `error` with `text` as the reply.
  void SetError(const std::string& resource, const CQiError& error, const std::string& text,
                const std::string& confLocation = std::string());
  // Access denied (Win32 5) for the request.
  void SetAccessDenied(const std::string& resource,
                       const std::string& confLocation = std::string());
  // The outcome of startPriam (success unless set); AccessDenied gives Win32 5.
  void SetStartError(const CQiError& error, const std::string& confLocation = std::string());
  void SetAccessDeniedAtStart(const std::string& confLocation = std::string());
  void ClearScript();

  std::vector<Session> Sessions() const;
  // The last session (an empty one when there is none).
  Session LastSession() const;
  // The requests of every session, in order.
  std::vector<Request> AllRequests() const;

  // The factory that makes utilities use this script.
  PriamTransportFactory Factory();

  // Used by the transports of this script.
  CQiError Start(size_t session, const PriamStartSpec& spec);
  CQiError HandleRequest(size_t session, int kind, const std::string& resource,
                         const std::string& body, std::string& reply);
  CQiError Stop(size_t session);
  bool Running(size_t session) const;
  void PropertiesWritten(size_t session, const std::string& path,
                         const std::map<std::string, std::string>& properties);

 private:
  struct Answer {
    CQiError error;
    std::string text;
  };
  using Key = std::pair<std::string, std::string>;  // configuration location, resource

  const Answer* FindAnswer(const std::string& confLocation, const std::string& resource) const;

  mutable std::mutex mutex_;
  std::map<Key, Answer> answers_;
  std::map<std::string, CQiError> startErrors_;  // by configuration location
  std::vector<Session> sessions_;
};

}  // namespace TqCassandra
