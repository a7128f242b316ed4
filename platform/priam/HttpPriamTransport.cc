#include "platform/priam/HttpPriamTransport.h"

#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiFile.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/ChildLauncher.h"
#include "platform/suite/PlatformInfo.h"

#ifndef TQ_DEFAULT_PRIAM_COMMAND
#define TQ_DEFAULT_PRIAM_COMMAND "priam-standin"
#endif

namespace TqCassandra {

namespace {

constexpr int kAccessDeniedExitStatus = 5;
constexpr size_t kStderrTail = 4096;

int64_t RegistryNumber(const char* name, int64_t preset) {
  int64_t value = preset;
  TQPlatformInfo().getNumber("Cassandra", name, value);
  return value;
}

// Percent-encodes the bytes that may not stand in a request target; the
// separators of a path with a query stay as they are, except that only the
// first "?" starts the query (the HTTP server takes a second one for a
// malformed request line, so it travels as %3F). A "%" with two hex digits
// is an escape the caller made (a query value it encoded) and goes as it
// is: encoding it again would hand Priam the escape instead of the value.
std::string EncodeTarget(const std::string& resource) {
  static const char* kKeep = "/&=:,;@!$'()*+-._~";
  std::string out = "/";
  bool inQuery = false;
  for (size_t i = 0; i < resource.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(resource[i]);
    const bool escape = c == '%' && i + 2 < resource.size() &&
                        std::isxdigit(static_cast<unsigned char>(resource[i + 1])) &&
                        std::isxdigit(static_cast<unsigned char>(resource[i + 2]));
    if (c == '?' && !inQuery) {
      out += '?';
      inQuery = true;
    } else if (escape || std::isalnum(c) || (c && std::strchr(kKeep, c))) {
      out += static_cast<char>(c);
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    }
  }
  return out;
}

int ReadPort(const std::string& path) {
  std::ifstream in(path);
  long port = 0;
  if (!(in >> port) || port <= 0 || port > 65535) return 0;
  return static_cast<int>(port);
}

bool Answers(int port) {
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(0, 200000);
  client.set_read_timeout(2, 0);
  client.set_write_timeout(2, 0);
  auto res = client.Get("/");
  return static_cast<bool>(res);
}

}  // namespace

std::string HttpPriamTransport::DefaultCommand() { return TQ_DEFAULT_PRIAM_COMMAND; }

HttpPriamTransport::~HttpPriamTransport() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pid_ > 0) KillAndReap();
}

bool HttpPriamTransport::ReapIfExited(int* status) {
  if (pid_ <= 0) return false;
  int st = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &st, WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return true;
  pid_ = -1;
  port_ = 0;
  if (status) *status = st;
  return false;
}

void HttpPriamTransport::KillAndReap() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int st;
  while (::waitpid(pid_, &st, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  port_ = 0;
}

std::string HttpPriamTransport::StderrText() const {
  std::string s;
  if (CQiFile::ReadWholeFile(stderrPath_.c_str(), s).IsError()) return std::string();
  if (s.size() > kStderrTail) s = "..." + s.substr(s.size() - kStderrTail);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

CQiError HttpPriamTransport::start(const PriamStartSpec& spec) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pid_ > 0 && ReapIfExited(nullptr)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1056, "Priam is already running (process %d)",
                                   static_cast<int>(pid_));
  }
  std::string command = DefaultCommand();
  TQPlatformInfo().getString("Cassandra", "sPriamCommand", command);
  workingDir_ = spec.workingDir;
  stderrPath_ = FXPath::Join(workingDir_, "priam.stderr");
  std::string portFile = FXPath::Join(workingDir_, "priam.port");
  ::unlink(portFile.c_str());

  ChildLauncher::Spec child;
  child.argv = {command,         "--work-dir",        workingDir_,  "--conf",      spec.confDir,
                "--properties",  spec.propertiesFile, "--java",     spec.javaPath, "--jvm-options",
                spec.jvmOptions, "--base-dir",        spec.baseDir, "--port-file", portFile};
  child.workingDir = workingDir_;
  child.stdoutPath = FXPath::Join(workingDir_, "priam.stdout");
  child.stderrPath = stderrPath_;
  int error = 0;
  pid_t pid = ChildLauncher::Launch(child, error);
  if (pid < 0) {
    return FXErrorUtil::ErrorErrNo(FXLOC, error, "Failed to start Priam %s: %s", command.c_str(),
                                   std::strerror(error));
  }
  pid_ = pid;
  TQLOG(2, "Started Priam %s as process %d in %s", command.c_str(), static_cast<int>(pid),
        workingDir_.c_str());

  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(RegistryNumber("nPriamStartTimeoutMs", 120000));
  for (;;) {
    int status = 0;
    if (!ReapIfExited(&status)) {
      std::string text = StderrText();
      if (WIFEXITED(status) && WEXITSTATUS(status) == kAccessDeniedExitStatus) {
        return FXErrorUtil::ErrorWin32(FXLOC, 5, "Priam refused authentication: %s", text.c_str());
      }
      if (WIFSIGNALED(status)) {
        return FXErrorUtil::ErrorWin32(FXLOC, 1067, "Priam ended by signal %d during start-up: %s",
                                       WTERMSIG(status), text.c_str());
      }
      return FXErrorUtil::ErrorWin32(FXLOC, 1067, "Priam exited with status %d during start-up: %s",
                                     WEXITSTATUS(status), text.c_str());
    }
    int port = ReadPort(portFile);
    if (port > 0 && Answers(port)) {
      port_ = port;
      TQLOG(2, "Priam process %d answers on 127.0.0.1:%d", static_cast<int>(pid_), port_);
      return CQiError::Success();
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  KillAndReap();
  std::string text = StderrText();
  return FXErrorUtil::ErrorWin32(FXLOC, 1460, "Priam did not answer in time: %s", text.c_str());
}

CQiError HttpPriamTransport::request(int kind, const std::string& resource, const std::string& body,
                                     std::string& reply) {
  reply.clear();
  int port;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    int status = 0;
    if (!ReapIfExited(&status)) {
      return FXErrorUtil::ErrorWin32(FXLOC, 1062, "Priam is not running: %s", StderrText().c_str());
    }
    port = port_;
  }
  if (kind != 0 && kind != 1) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Unknown Priam request kind %d", kind);
  }
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(10, 0);
  const time_t timeout = static_cast<time_t>(RegistryNumber("nPriamRequestTimeoutSeconds", 3600));
  client.set_read_timeout(timeout, 0);
  client.set_write_timeout(timeout, 0);
  const std::string target = EncodeTarget(resource);
  httplib::Result res = kind == 0 ? client.Get(target.c_str())
                                  : client.Post(target.c_str(), body, "application/json");
  if (!res) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1225, "Priam request %s got no answer: %s",
                                   resource.c_str(), httplib::to_string(res.error()).c_str());
  }
  reply = res->body;
  if (res->status == 401 || res->status == 403) {
    return FXErrorUtil::ErrorWin32(FXLOC, 5, "Priam request %s: access denied", resource.c_str());
  }
  if (res->status < 200 || res->status > 299) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "Priam request %s failed with HTTP status %d",
                                   resource.c_str(), res->status);
  }
  return CQiError::Success();
}

CQiError HttpPriamTransport::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pid_ <= 0) return CQiError::Success();
  int status = 0;
  if (!ReapIfExited(&status)) {
    TQLOG(1, "Priam had already ended");
    return CQiError::Success();
  }
  pid_t pid = pid_;
  ::kill(pid, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(RegistryNumber("nPriamStopTimeoutMs", 10000));
  while (ReapIfExited(&status)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      KillAndReap();
      return FXErrorUtil::ErrorWin32(FXLOC, 1460,
                                     "Priam process %d did not end in time and was killed",
                                     static_cast<int>(pid));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  TQLOG(2, "Priam process %d ended", static_cast<int>(pid));
  return CQiError::Success();
}

bool HttpPriamTransport::isRunning() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pid_ > 0 && const_cast<HttpPriamTransport*>(this)->ReapIfExited(nullptr);
}

}  // namespace TqCassandra
