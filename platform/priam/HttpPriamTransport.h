#pragma once

#include <sys/types.h>

#include <mutex>
#include <string>

#include "platform/priam/IPriamTransport.h"

namespace TqCassandra {

// The real transport: runs the Priam co-process as a child of this process
// and sends it REST requests over HTTP on loopback.
//
// The child is started as
//   <command> --work-dir <dir> --conf <configuration directory>
//             --properties <file> --java <path> --jvm-options <text>
//             --base-dir <dir> --port-file <file>
// in the working directory, with standard output and error going to
// "priam.stdout" and "priam.stderr" there. It reports the loopback port it
// listens on by writing it into the port file; a child that exits with
// status 5 refused authentication.
//
// Registry values (section "Cassandra"): sPriamCommand (the program; default
// the stand-in this project builds), nPriamStartTimeoutMs (120000),
// nPriamRequestTimeoutSeconds (3600), nPriamStopTimeoutMs (10000).
class HttpPriamTransport : public IPriamTransport {
 public:
  HttpPriamTransport() = default;
  ~HttpPriamTransport() override;

  CQiError start(const PriamStartSpec& spec) override;
  CQiError request(int kind, const std::string& resource, const std::string& body,
                   std::string& reply) override;
  CQiError stop() override;
  bool isRunning() const override;

  pid_t pid() const { return pid_; }
  int port() const { return port_; }

  // The program started when the registry names none.
  static std::string DefaultCommand();

 private:
  // Reaps the child when it has ended; returns true while it runs.
  bool ReapIfExited(int* status);
  std::string StderrText() const;
  void KillAndReap();

  mutable std::mutex mutex_;
  pid_t pid_ = -1;
  int port_ = 0;
  std::string workingDir_;
  std::string stderrPath_;
};

}  // namespace TqCassandra
