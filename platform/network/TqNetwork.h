#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/base/QiError.h"
#include "platform/base/QiString.h"
#include "platform/msg/NMessageBase.h"
#include "platform/msg/SuiteServiceRecords.h"

// The suite's remote-command channel: starts a utility program on a suite
// client and exchanges records with it over one connection.
//
// Here every simulated client lives on this machine: Attach_RemoteCommand
// finds the client that the host name reaches (its mangled host name, else
// its host name), starts the program as a child process in that client's
// identity (TQ_CLIENT_NAME, TQ_CLIENT_ID, the suite home and registry file of
// this process) and waits for it to connect to a local socket in a private
// folder (mode 0700, removed at Disconnect); the program's end is
// CTqRemoteCommandPeer. The program is the file named by the command's
// field 2, a plain file name, in the remote program folder (registry
// "RemoteCommand"/"sProgramDirectory", else the folder the build put the
// simulated node programs in); field 3 is its argument line, split at blanks
// and tabs with double quotes grouping (never through a shell). Fields 1, 4
// and 5 are not used by this channel.
//
// Time-outs are in seconds; a negative one waits without limit. A time-out is
// not an error: the call returns success with `timedOut` set. Errors are kept
// for GetLastErrorGenericText until the next call. A program still running at
// Disconnect gets the time-out to end, then is killed; the destructor
// disconnects. While a CTqNetworkScript lives, connections answer from it.
class CTqNetwork {
 public:
  // Failure switches for tests, by host ("" every host), in force until
  // ClearFaults: the launch fails (Win32 1067), the launch, a send or a
  // receive times out (nothing is started, sent or read), or a receive
  // returns a record of the wrong kind (the start command echoed back).
  enum Fault { kLaunchFails, kLaunchTimesOut, kSendTimesOut, kReceiveTimesOut, kWrongReply };
  static void InjectFault(const std::string& host, Fault fault);
  static void ClearFaults();

  // The folder remote programs are started from.
  static std::string ProgramDirectory();

  CTqNetwork();
  ~CTqNetwork();
  CTqNetwork(const CTqNetwork&) = delete;
  CTqNetwork& operator=(const CTqNetwork&) = delete;

  CQiError Attach_RemoteCommand(const char* host,
                                const CNSession::tqsExecuteRemoteCommandType& command,
                                void* reserved, const char* localClientName, int timeoutSecs,
                                bool& timedOut);
  CQiError SendXMLMessage(const CNMessageBase& message, int flags, int timeoutSecs, bool& timedOut);
  // The record received, of whatever namespace and class it is.
  CQiError ReceiveXMLMessage(void* reserved, CNMessageBasePtr& message, void* reserved2, int flags,
                             int timeoutSecs, bool& timedOut);
  bool IsConnected() const;
  CQiError Disconnect(int timeoutSecs, bool& timedOut);
  // The code and text of the last failed call (0 and "" after a success).
  void GetLastErrorGenericText(uint32_t& code, CQiString& text, int flags) const;

  // The started program's process id (-1 when none runs).
  pid_t ProgramPid() const { return pid_; }

 private:
  CQiError Failed(const CQiError& error);
  void ClearLastError();
  bool HasFault(Fault fault) const;
  CQiError Launch(const CNSession::tqsExecuteRemoteCommandType& command,
                  const std::string& localClient, int timeoutSecs, bool& timedOut);
  // Ends the program (waiting up to `timeoutSecs`), removes the folder.
  bool EndProgram(int timeoutSecs);
  static std::string FirstLines(const std::string& path);

  std::string host_;
  int fd_ = -1;
  pid_t pid_ = -1;
  std::string folder_;
  std::string program_;
  bool connected_ = false;
  std::shared_ptr<void> script_;  // the script engine this connection answers from
  CNSession::tqsExecuteRemoteCommandType command_;
  uint32_t lastCode_ = 0;
  std::string lastText_;
};
