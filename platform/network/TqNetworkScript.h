#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/msg/NMessageBase.h"
#include "platform/msg/SuiteServiceRecords.h"

// For tests: while it lives, every CTqNetwork connection answers from this
// script instead of starting a program, and every call is recorded. Rules are
// per host ("" applies to every host a more specific rule does not name):
// a launch or send rule holds for every call; receive answers are queued and
// each receive takes the next one of its host. A receive with nothing queued
// fails (Win32 1460 "No scripted reply for <host>"), so a test never hangs.
// When several scripts live, the newest answers.
class CTqNetworkScript {
 public:
  struct Event {
    enum Kind { kAttach, kSend, kReceive, kDisconnect };
    Kind kind = kAttach;
    std::string host;
    // kAttach: the start command and what came with it.
    CNSession::tqsExecuteRemoteCommandType command;
    std::string localClient;
    int timeoutSecs = 0;
    // kSend: the record sent.
    CNMessageBasePtr message;
  };

  CTqNetworkScript();
  ~CTqNetworkScript();
  CTqNetworkScript(const CTqNetworkScript&) = delete;
  CTqNetworkScript& operator=(const CTqNetworkScript&) = delete;

  void FailLaunch(const std::string& host, const CQiError& error);
  void TimeOutLaunch(const std::string& host);
  void FailSend(const std::string& host, const CQiError& error);
  void TimeOutSend(const std::string& host);
  // Queued answers to the receives of `host`.
  void Reply(const std::string& host, const CNMessageBase& message);
  void FailReceive(const std::string& host, const CQiError& error);
  void TimeOutReceive(const std::string& host);

  std::vector<Event> Events() const;
  std::vector<Event> Events(Event::Kind kind) const;

  // The outcome of one scripted call: an error, a time-out, or success.
  struct Outcome {
    CQiError error;
    bool timedOut = false;
    CNMessageBasePtr message;  // a receive's record
  };
  // The calls of CTqNetwork while a script is active.
  class Engine {
   public:
    Outcome Attach(const std::string& host, const CNSession::tqsExecuteRemoteCommandType& command,
                   const std::string& localClient, int timeoutSecs);
    Outcome Send(const std::string& host, const CNMessageBase& message);
    Outcome Receive(const std::string& host);
    void Disconnect(const std::string& host);

   private:
    friend class CTqNetworkScript;
    using Rule = Outcome;
    const Rule* FindRule(const std::map<std::string, Rule>& rules, const std::string& host) const;

    mutable std::mutex mutex_;
    std::map<std::string, Rule> launch_;
    std::map<std::string, Rule> send_;
    std::map<std::string, std::deque<Outcome>> receive_;
    std::vector<Event> events_;
  };
  // The engine of the script that lives, or null.
  static std::shared_ptr<Engine> Active();

 private:
  std::shared_ptr<Engine> engine_;
};
