#include "tools/tqcass/SignalWatcher.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/base/QiFile.h"

namespace TqCass {

namespace {

int g_pipe[2] = {-1, -1};

void OnSignal(int signal) {
  const int saved = errno;
  const char byte = static_cast<char>(signal);
  if (::write(g_pipe[1], &byte, 1) < 0) {
    // Nothing a handler can do; the signal is lost.
  }
  errno = saved;
}

// Processes whose parent is this process.
std::vector<pid_t> Children() {
  std::vector<pid_t> children;
  const pid_t self = ::getpid();
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    // A process that ends meanwhile fails the read (ESRCH): it is no child
    // to stop any more. Read without streams, which would throw.
    std::string stat;
    if (CQiFile::ReadWholeFile((entry.path() / "stat").c_str(), stat).IsError()) continue;
    // "<pid> (<comm>) <state> <ppid> ...": the name may hold spaces.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    long ppid = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %ld", &state, &ppid) != 2) continue;
    if (ppid == self && state != 'Z') children.push_back(static_cast<pid_t>(std::stol(name)));
  }
  return children;
}

}  // namespace

CSignalWatcher::~CSignalWatcher() {
  if (!installed_) return;
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
  const char stop = 0;
  if (::write(g_pipe[1], &stop, 1) < 0) {
    // The thread then stays blocked; it is detached below.
  }
  if (thread_.joinable()) thread_.join();
}

bool CSignalWatcher::Install() {
  if (installed_) return true;
  if (::pipe2(g_pipe, O_CLOEXEC) != 0) return false;
  try {
    thread_ = std::thread([this] { Loop(); });
  } catch (const std::system_error&) {
    return false;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  installed_ = true;
  return true;
}

void CSignalWatcher::SetStop(std::function<void(int)> stop) {
  std::lock_guard<std::mutex> lock(mutex_);
  stop_ = std::move(stop);
}

void CSignalWatcher::ClearStop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stop_ = nullptr;
}

std::string CSignalWatcher::Name(int signal) {
  if (signal == SIGINT) return "SIGINT (Ctrl-C)";
  if (signal == SIGTERM) return "SIGTERM";
  return "signal " + std::to_string(signal);
}

void CSignalWatcher::Loop() {
  while (true) {
    char byte = 0;
    const ssize_t n = ::read(g_pipe[0], &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || byte == 0) return;
    const int signal = static_cast<unsigned char>(byte);
    std::function<void(int)> stop;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop = stop_;
    }
    int expected = 0;
    const bool first = received_.compare_exchange_strong(expected, signal);
    if (first && stop) {
      stop(signal);
      continue;
    }
    // No job to end the way a quit job ends, or asked a second time.
    StopChildren(500);
    std::fprintf(stderr, "tqcass: stopped by %s\n", Name(signal).c_str());
    std::fflush(stderr);
    ::_exit(128 + signal);
  }
}

namespace {

// A child started in a process group of its own (the programs a job starts)
// gets the signal with its whole group, so that what it started goes too.
void SignalChild(pid_t pid, int signal) {
  if (::getpgid(pid) == pid) {
    ::kill(-pid, signal);
  } else {
    ::kill(pid, signal);
  }
}

}  // namespace

int CSignalWatcher::StopChildren(int graceMs) {
  std::vector<pid_t> children = Children();
  if (children.empty()) return 0;
  for (pid_t pid : children) SignalChild(pid, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
  // Only the processes signalled here are reaped; a zombie no longer runs.
  auto reap = [&children] {
    for (pid_t pid : children) ::waitpid(pid, nullptr, WNOHANG);
  };
  while (std::chrono::steady_clock::now() < deadline) {
    reap();
    if (Children().empty()) break;
    ::usleep(20000);
  }
  for (pid_t pid : Children()) SignalChild(pid, SIGKILL);
  reap();
  return static_cast<int>(children.size());
}

}  // namespace TqCass
