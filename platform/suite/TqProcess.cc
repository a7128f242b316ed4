#include "platform/suite/TqProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/log/LogWriter.h"

extern char** environ;

namespace {

std::mutex& HookMutex() {
  static std::mutex mutex;
  return mutex;
}

TqProcess::Hook& CurrentHook() {
  static TqProcess::Hook hook;
  return hook;
}

int Fail(std::string& err, const char* what, int code) {
  err = std::string(what) + ": " + std::strerror(code);
  TQLOG(-1, "%s", err.c_str());
  return -1;
}

void CloseBoth(int fds[2]) {
  for (int i = 0; i < 2; ++i)
    if (fds[i] >= 0) ::close(fds[i]);
}

int Run(const std::string& command, std::string& out, std::string& err) {
  int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return Fail(err, "Failed to create a pipe", errno);
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    int code = errno;
    CloseBoth(outPipe);
    return Fail(err, "Failed to create a pipe", code);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  // The command runs in a process group of its own: Ctrl-C at a terminal
  // reaches this process's group only, and this process stops its children.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  pid_t pid = -1;
  int rc = ::posix_spawn(&pid, "/bin/sh", &actions, &attributes, const_cast<char* const*>(argv),
                         environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (rc != 0) {
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    return Fail(err, "Failed to start /bin/sh", rc);
  }

  struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) ::close(f.fd);

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return Fail(err, "Failed to wait for the command", errno);
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

TqProcess::Hook TqProcess::SetHook(Hook hook) {
  std::lock_guard<std::mutex> lock(HookMutex());
  Hook previous = std::move(CurrentHook());
  CurrentHook() = std::move(hook);
  return previous;
}

int TqProcess::system(const char* command, std::string& out, std::string& err, int, bool) {
  out.clear();
  err.clear();
  if (!command || !*command) {
    err = "Empty command line";
    TQLOG(-1, "%s", err.c_str());
    return -1;
  }
  TQLOG(2, "Running command [%s]", command);
  Hook hook;
  {
    std::lock_guard<std::mutex> lock(HookMutex());
    hook = CurrentHook();
  }
  int status = -1;
  if (!(hook && hook(command, out, err, status))) {
    out.clear();
    err.clear();
    status = Run(command, out, err);
  }
  TQLOG(2, "Command [%s] ended with status %d", command, status);
  return status;
}

int TqProcess::system(const char* command, CQiString& out, CQiString& err, int flags,
                      bool reserved) {
  std::string o, e;
  int status = system(command, o, e, flags, reserved);
  out = o;
  err = e;
  return status;
}
