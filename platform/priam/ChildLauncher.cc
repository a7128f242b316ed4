#include "platform/priam/ChildLauncher.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

namespace TqCassandra {

namespace {

// Forks and execs; runs on the launcher thread.
pid_t ForkExec(const ChildLauncher::Spec& spec, int& error) {
  error = 0;
  if (spec.argv.empty()) {
    error = EINVAL;
    return -1;
  }
  // Everything the child needs is prepared before fork: after it only
  // async-signal-safe calls are allowed.
  std::vector<char*> argv;
  for (const auto& a : spec.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // The child's environment: this process's, with the spec's entries set.
  std::vector<std::string> environment;
  for (char** e = environ; e && *e; ++e) {
    const std::string entry(*e);
    const std::string name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const auto& extra : spec.environment) {
      if (extra.compare(0, name.size(), name) == 0) replaced = true;
    }
    if (!replaced) environment.push_back(entry);
  }
  environment.insert(environment.end(), spec.environment.begin(), spec.environment.end());
  std::vector<char*> envp;
  for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  int out = ::open(spec.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  int err = ::open(spec.stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  int status[2] = {-1, -1};
  if (in < 0 || out < 0 || err < 0 || ::pipe2(status, O_CLOEXEC) != 0) {
    error = errno;
    for (int fd : {in, out, err, status[0], status[1]}) {
      if (fd >= 0) ::close(fd);
    }
    return -1;
  }
  pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid == 0) {
    int failure = 0;
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) {
      failure = errno ? errno : ESRCH;
    } else if (::setpgid(0, 0) != 0) {
      // A process group of its own: Ctrl-C at a terminal reaches the
      // foreground group, and the child is stopped by whoever started it,
      // not with it.
      failure = errno;
    } else if (::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) {
      failure = errno;
    } else if (!spec.workingDir.empty() && ::chdir(spec.workingDir.c_str()) != 0) {
      failure = errno;
    } else {
      // Descriptors of the parent (sockets, files) are not the child's business.
      ::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC);
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      ::execve(argv[0], argv.data(), envp.data());
      failure = errno;
    }
    ssize_t w = ::write(status[1], &failure, sizeof failure);
    (void)w;
    ::_exit(127);
  }
  int forkErrno = errno;
  // Also here, so that the group exists before this returns whichever of the
  // two runs first (the child may have exec'd already: then it is set).
  if (pid > 0) ::setpgid(pid, pid);
  ::close(in);
  ::close(out);
  ::close(err);
  ::close(status[1]);
  if (pid < 0) {
    ::close(status[0]);
    error = forkErrno;
    return -1;
  }
  // The pipe closes on a successful exec; a failure writes its errno first.
  int childError = 0;
  ssize_t n;
  do {
    n = ::read(status[0], &childError, sizeof childError);
  } while (n < 0 && errno == EINTR);
  ::close(status[0]);
  if (n == static_cast<ssize_t>(sizeof childError)) {
    int st;
    while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    error = childError ? childError : ECHILD;
    return -1;
  }
  return pid;
}

// The process-wide launcher thread and its queue. Allocated once and never
// freed, so that it outlives every static destructor.
class LauncherThread {
 public:
  static LauncherThread& Instance() {
    static LauncherThread* instance = new LauncherThread();
    return *instance;
  }

  pid_t Run(const ChildLauncher::Spec& spec, int& error) {
    std::packaged_task<std::pair<pid_t, int>()> task([&spec] {
      int e = 0;
      pid_t pid = ForkExec(spec, e);
      return std::make_pair(pid, e);
    });
    auto result = task.get_future();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(std::move(task));
    }
    cv_.notify_one();
    auto r = result.get();
    error = r.second;
    return r.first;
  }

 private:
  LauncherThread() {
    std::thread([this] { Loop(); }).detach();
  }

  void Loop() {
    for (;;) {
      std::packaged_task<std::pair<pid_t, int>()> task;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return !queue_.empty(); });
        task = std::move(queue_.front());
        queue_.pop_front();
      }
      task();
    }
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::packaged_task<std::pair<pid_t, int>()>> queue_;
};

}  // namespace

pid_t ChildLauncher::Launch(const Spec& spec, int& error) {
  return LauncherThread::Instance().Run(spec, error);
}

}  // namespace TqCassandra
