#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/suite/TqProcess.h"

// For tests: while it lives, TqProcess::system answers command lines from a
// script instead of running them, and records every command line with the
// client of the thread that ran it. Rules are tried in the order added; the
// first that matches answers. A command that no rule matches gets the
// default answer (status 127 and the standard error "command not
// scripted: <command>") unless pass-through is on, in which case it really
// runs. Restores the previous hook when destroyed.
class CProcessScript {
 public:
  enum Match { kExact, kPrefix, kContains };
  struct Answer {
    std::string out;
    std::string err;
    int status = 0;
  };
  struct Call {
    std::string command;
    std::string client;  // client context of the calling thread ("" when none)
  };

  CProcessScript();
  ~CProcessScript();
  CProcessScript(const CProcessScript&) = delete;
  CProcessScript& operator=(const CProcessScript&) = delete;

  // Adds a rule; `times` limits how often it answers (-1: always).
  void Add(Match match, const std::string& text, const Answer& answer, int times = -1);
  void SetDefault(const Answer& answer);
  void SetPassThrough(bool on);

  std::vector<Call> Calls() const;
  std::vector<std::string> Commands() const;

 private:
  struct Rule {
    Match match;
    std::string text;
    Answer answer;
    int remaining;
  };
  bool Respond(const std::string& command, std::string& out, std::string& err, int& status);

  mutable std::mutex mutex_;
  std::vector<Rule> rules_;
  std::vector<Call> calls_;
  Answer default_;
  bool hasDefault_ = false;
  bool passThrough_ = false;
  TqProcess::Hook previous_;
};
