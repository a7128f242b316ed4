#include "platform/network/TqNetwork.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/log/LogWriter.h"
#include "platform/network/TqNetworkFrame.h"
#include "platform/network/TqNetworkScript.h"
#include "platform/network/TqRemoteCommandPeer.h"
#include "platform/priam/ChildLauncher.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/ClientDirectory.h"
#include "platform/suite/PlatformInfo.h"

#ifndef TQ_DEFAULT_REMOTE_PROGRAM_DIR
#define TQ_DEFAULT_REMOTE_PROGRAM_DIR ""
#endif

namespace {

constexpr uint32_t kLaunchFailed = 1067;
constexpr uint32_t kNotConnected = 10057;
constexpr uint32_t kConnectionClosed = 10054;
constexpr size_t kStderrShown = 2048;

std::mutex& FaultMutex() {
  static std::mutex m;
  return m;
}
std::map<std::string, std::set<CTqNetwork::Fault>>& Faults() {
  static std::map<std::string, std::set<CTqNetwork::Fault>> faults;
  return faults;
}

using Engine = CTqNetworkScript::Engine;
Engine* EngineOf(const std::shared_ptr<void>& p) { return static_cast<Engine*>(p.get()); }

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The argument line split at blanks and tabs; double quotes group (and are
// removed), a backslash inside quotes takes the next character as it is.
std::vector<std::string> SplitArguments(const std::string& line) {
  std::vector<std::string> out;
  std::string token;
  bool inToken = false, quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted) {
      if (c == '\\' && i + 1 < line.size()) {
        token += line[++i];
      } else if (c == '"') {
        quoted = false;
      } else {
        token += c;
      }
    } else if (c == '"') {
      quoted = inToken = true;
    } else if (c == ' ' || c == '\t') {
      if (inToken) out.push_back(token);
      token.clear();
      inToken = false;
    } else {
      token += c;
      inToken = true;
    }
  }
  if (inToken) out.push_back(token);
  return out;
}

// The client the remote-command service reaches as `host`.
bool FindClientByHost(const std::string& host, SClientRecord& found) {
  for (const SClientRecord& r : CClientDirectory::Instance().All()) {
    const std::string& reachable = r.mangledHostName.empty() ? r.hostName : r.mangledHostName;
    if (!host.empty() && reachable == host) {
      found = r;
      return true;
    }
  }
  return false;
}

std::string Describe(int status) {
  char text[64];
  if (WIFEXITED(status)) {
    std::snprintf(text, sizeof text, "exit status %d", WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    std::snprintf(text, sizeof text, "signal %d", WTERMSIG(status));
  } else {
    std::snprintf(text, sizeof text, "status %d", status);
  }
  return text;
}

}  // namespace

void CTqNetwork::InjectFault(const std::string& host, Fault fault) {
  std::lock_guard<std::mutex> lock(FaultMutex());
  Faults()[host].insert(fault);
}

void CTqNetwork::ClearFaults() {
  std::lock_guard<std::mutex> lock(FaultMutex());
  Faults().clear();
}

std::string CTqNetwork::ProgramDirectory() {
  std::string dir;
  if (TQPlatformInfo().getString("RemoteCommand", "sProgramDirectory", dir) && !dir.empty()) {
    return dir;
  }
  return TQ_DEFAULT_REMOTE_PROGRAM_DIR;
}

CTqNetwork::CTqNetwork() = default;

CTqNetwork::~CTqNetwork() {
  if (connected_ || pid_ > 0 || fd_ >= 0 || !folder_.empty()) {
    bool timedOut = false;
    Disconnect(10, timedOut);
  }
}

bool CTqNetwork::HasFault(Fault fault) const {
  std::lock_guard<std::mutex> lock(FaultMutex());
  for (const std::string& key : {host_, std::string()}) {
    auto it = Faults().find(key);
    if (it != Faults().end() && it->second.count(fault)) return true;
  }
  return false;
}

void CTqNetwork::ClearLastError() {
  lastCode_ = 0;
  lastText_.clear();
}

CQiError CTqNetwork::Failed(const CQiError& error) {
  lastCode_ = error.GetCode();
  lastText_ = error.GetMessage();
  return error;
}

void CTqNetwork::GetLastErrorGenericText(uint32_t& code, CQiString& text, int) const {
  code = lastCode_;
  text = lastText_;
}

bool CTqNetwork::IsConnected() const { return connected_; }

CQiError CTqNetwork::Attach_RemoteCommand(const char* host,
                                          const CNSession::tqsExecuteRemoteCommandType& command,
                                          void*, const char* localClientName, int timeoutSecs,
                                          bool& timedOut) {
  timedOut = false;
  if (connected_ || pid_ > 0) {
    bool ignored = false;
    Disconnect(10, ignored);
  }
  ClearLastError();
  host_ = host ? host : "";
  command_ = command;
  const std::string localClient = localClientName ? localClientName : "";

  if (std::shared_ptr<Engine> engine = CTqNetworkScript::Active()) {
    CTqNetworkScript::Outcome o = engine->Attach(host_, command, localClient, timeoutSecs);
    if (o.error.IsError()) return Failed(o.error);
    timedOut = o.timedOut;
    if (!timedOut) {
      script_ = engine;
      connected_ = true;
    }
    return CQiError::Success();
  }

  if (HasFault(kLaunchFails)) {
    return Failed(FXErrorUtil::ErrorWin32(FXLOC, kLaunchFailed,
                                          "The remote-command service could not start %s on %s",
                                          command.getProgram().c_str(), host_.c_str()));
  }
  if (HasFault(kLaunchTimesOut)) {
    timedOut = true;
    return CQiError::Success();
  }
  return Launch(command, localClient, timeoutSecs, timedOut);
}

CQiError CTqNetwork::Launch(const CNSession::tqsExecuteRemoteCommandType& command,
                            const std::string& localClient, int timeoutSecs, bool& timedOut) {
  const std::string program = command.getProgram();
  if (program.empty() || program == "." || program == ".." ||
      program.find('/') != std::string::npos) {
    return Failed(
        FXErrorUtil::ErrorWin32(FXLOC, 87, "Invalid remote program name [%s]", program.c_str()));
  }
  const std::string directory = ProgramDirectory();
  const std::string path = FXPath::Join(directory, program);
  // The program and the system's reason, so that whoever reads the failure
  // knows what to build or install.
  const int missing = directory.empty() ? ENOENT : ::access(path.c_str(), X_OK) != 0 ? errno : 0;
  if (missing != 0) {
    return Failed(FXErrorUtil::ErrorWin32(FXLOC, 2, "Cannot start remote program %s (%s): %s",
                                          program.c_str(), path.c_str(), std::strerror(missing)));
  }
  SClientRecord client;
  if (!FindClientByHost(host_, client)) {
    return Failed(FXErrorUtil::ErrorWin32(FXLOC, 1168, "No suite client is reachable as host [%s]",
                                          host_.c_str()));
  }

  // A private folder for the socket and the program's output.
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp && *tmp && std::strlen(tmp) < 60 ? tmp : "/tmp";
  std::string pattern = FXPath::Join(base, "tqremote-XXXXXX");
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) {
    return Failed(FXErrorUtil::ErrorErrNo(FXLOC, errno, "Failed to create a folder in %s: %s",
                                          base.c_str(), std::strerror(errno)));
  }
  folder_ = buffer.data();
  program_ = program;
  const std::string endpoint = FXPath::Join(folder_, "socket");

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, endpoint.c_str(), endpoint.size() + 1);
  int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0 ||
      ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 1) != 0) {
    int e = errno;
    if (listener >= 0) ::close(listener);
    EndProgram(0);
    return Failed(FXErrorUtil::ErrorErrNo(FXLOC, e, "Failed to open the endpoint %s: %s",
                                          endpoint.c_str(), std::strerror(e)));
  }

  TqCassandra::ChildLauncher::Spec spec;
  spec.argv.push_back(path);
  for (const std::string& a : SplitArguments(command.getArguments())) spec.argv.push_back(a);
  spec.workingDir = folder_;
  spec.stdoutPath = FXPath::Join(folder_, "stdout");
  spec.stderrPath = FXPath::Join(folder_, "stderr");
  spec.environment = {
      "TQ_CLIENT_NAME=" + client.name,
      "TQ_CLIENT_ID=" + std::to_string(client.id),
      "TQ_SUITE_HOME=" + CClientContext::SuiteHome(),
      std::string(CTqRemoteCommandPeer::kEndpointVariable) + "=" + endpoint,
      std::string(CTqRemoteCommandPeer::kRequesterVariable) + "=" + localClient,
  };
  const std::string registry = CRegistry::Instance().GetFile();
  if (!registry.empty()) spec.environment.push_back("TQ_REGISTRY=" + registry);

  int launchError = 0;
  pid_ = TqCassandra::ChildLauncher::Launch(spec, launchError);
  if (pid_ < 0) {
    ::close(listener);
    EndProgram(0);
    return Failed(FXErrorUtil::ErrorWin32(FXLOC, kLaunchFailed, "Failed to start %s on %s: %s",
                                          program.c_str(), host_.c_str(),
                                          std::strerror(launchError)));
  }
  TQLOG(2, "Started %s (pid %d) for client %s", path.c_str(), static_cast<int>(pid_),
        client.name.c_str());

  // Wait for the program to connect, watching that it still runs.
  const int64_t deadline = timeoutSecs < 0 ? -1 : NowMs() + int64_t{timeoutSecs} * 1000;
  for (;;) {
    int status = 0;
    pid_t ended = ::waitpid(pid_, &status, WNOHANG);
    if (ended == pid_) {
      pid_ = -1;
      ::close(listener);
      const std::string output = FirstLines(spec.stderrPath);
      EndProgram(0);
      return Failed(FXErrorUtil::ErrorWin32(
          FXLOC, kLaunchFailed, "%s on %s ended (%s) before it connected%s%s", program.c_str(),
          host_.c_str(), Describe(status).c_str(), output.empty() ? "" : ": ", output.c_str()));
    }
    int wait = 200;
    if (deadline >= 0) {
      int64_t left = deadline - NowMs();
      if (left <= 0) {
        ::close(listener);
        EndProgram(0);
        timedOut = true;
        return CQiError::Success();
      }
      if (left < wait) wait = static_cast<int>(left);
    }
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, wait) <= 0) continue;
    int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.pid != pid_) {
      ::close(fd);  // only the started program may take the connection
      continue;
    }
    ::close(listener);
    ::unlink(endpoint.c_str());
    fd_ = fd;
    connected_ = true;
    return CQiError::Success();
  }
}

CQiError CTqNetwork::SendXMLMessage(const CNMessageBase& message, int, int timeoutSecs,
                                    bool& timedOut) {
  timedOut = false;
  ClearLastError();
  if (!connected_) {
    return Failed(FXErrorUtil::ErrorWin32(FXLOC, kNotConnected, "Not connected"));
  }
  if (script_) {
    CTqNetworkScript::Outcome o = EngineOf(script_)->Send(host_, message);
    timedOut = o.timedOut;
    return o.error.IsError() ? Failed(o.error) : CQiError::Success();
  }
  if (HasFault(kSendTimesOut)) {
    timedOut = true;
    return CQiError::Success();
  }
  int error = 0;
  CTqNetworkFrame::Result r = CTqNetworkFrame::Send(fd_, message, timeoutSecs, error);
  if (r == CTqNetworkFrame::kOk) return CQiError::Success();
  if (r == CTqNetworkFrame::kTimedOut) {
    timedOut = true;
    return CQiError::Success();
  }
  return Failed(
      FXErrorUtil::ErrorWin32(FXLOC, r == CTqNetworkFrame::kClosed ? kConnectionClosed : 13,
                              "Failed to send a message to %s on %s: %s", program_.c_str(),
                              host_.c_str(), CTqNetworkFrame::Describe(r, error).c_str()));
}

CQiError CTqNetwork::ReceiveXMLMessage(void*, CNMessageBasePtr& message, void*, int,
                                       int timeoutSecs, bool& timedOut) {
  timedOut = false;
  ClearLastError();
  if (!connected_) {
    return Failed(FXErrorUtil::ErrorWin32(FXLOC, kNotConnected, "Not connected"));
  }
  if (script_) {
    CTqNetworkScript::Outcome o = EngineOf(script_)->Receive(host_);
    timedOut = o.timedOut;
    if (o.error.IsError()) return Failed(o.error);
    if (o.message) message = std::make_shared<CNMessageBase>(*o.message);
    return CQiError::Success();
  }
  if (HasFault(kReceiveTimesOut)) {
    timedOut = true;
    return CQiError::Success();
  }
  int error = 0;
  CNMessageBasePtr received;
  CTqNetworkFrame::Result r = CTqNetworkFrame::Receive(fd_, received, timeoutSecs, error);
  if (r == CTqNetworkFrame::kTimedOut) {
    timedOut = true;
    return CQiError::Success();
  }
  if (r != CTqNetworkFrame::kOk) {
    return Failed(
        FXErrorUtil::ErrorWin32(FXLOC, r == CTqNetworkFrame::kClosed ? kConnectionClosed : 13,
                                "Failed to receive a message from %s on %s: %s", program_.c_str(),
                                host_.c_str(), CTqNetworkFrame::Describe(r, error).c_str()));
  }
  message = HasFault(kWrongReply) ? std::make_shared<CNMessageBase>(command_) : received;
  return CQiError::Success();
}

CQiError CTqNetwork::Disconnect(int timeoutSecs, bool& timedOut) {
  timedOut = false;
  ClearLastError();
  if (script_) {
    EngineOf(script_)->Disconnect(host_);
    script_.reset();
    connected_ = false;
    return CQiError::Success();
  }
  connected_ = false;
  if (fd_ >= 0) {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    fd_ = -1;
  }
  timedOut = !EndProgram(timeoutSecs);
  return CQiError::Success();
}

bool CTqNetwork::EndProgram(int timeoutSecs) {
  bool endedInTime = true;
  if (pid_ > 0) {
    const int64_t deadline = NowMs() + int64_t{timeoutSecs < 0 ? 0 : timeoutSecs} * 1000;
    int status = 0;
    pid_t ended = 0;
    while ((ended = ::waitpid(pid_, &status, WNOHANG)) == 0 && NowMs() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (ended == 0) {
      endedInTime = false;
      ::kill(pid_, SIGKILL);
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
    }
    const std::string output = FirstLines(FXPath::Join(folder_, "stderr"));
    TQLOG(2, "%s on %s ended (%s)%s%s", program_.c_str(), host_.c_str(),
          endedInTime ? Describe(status).c_str() : "killed", output.empty() ? "" : ": ",
          output.c_str());
    pid_ = -1;
  }
  if (!folder_.empty()) {
    for (const char* name : {"socket", "stdout", "stderr"}) {
      ::unlink(FXPath::Join(folder_, name).c_str());
    }
    ::rmdir(folder_.c_str());
    folder_.clear();
  }
  return endedInTime;
}

std::string CTqNetwork::FirstLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text(kStderrShown, '\0');
  in.read(&text[0], static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}
