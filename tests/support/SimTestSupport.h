#pragma once

// Helpers of the Priam and simulated-cluster tests: temporary directories,
// small files, and a look at this process's child processes.

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace simtest {

// A directory under the temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tqtest.XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string Sub(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A shell script that runs `body`; made executable.
inline std::string WriteScript(const std::string& path, const std::string& body) {
  WriteFile(path, "#!/bin/sh\n" + body + "\n");
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  return path;
}

// A file of /proc; empty once its process has gone. A process that exits
// between the open and the read fails the read with ESRCH, which a stream
// would throw from its buffer, so this reads with plain calls.
inline std::string ReadProcFile(const std::string& path) {
  std::string text;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  return n < 0 ? std::string() : text;
}

// The processes whose command line holds `text`, as other tests start and
// end processes meanwhile.
inline std::vector<pid_t> ProcessesNaming(const std::string& text) {
  std::vector<pid_t> found;
  DIR* proc = ::opendir("/proc");
  if (!proc) return found;
  while (dirent* e = ::readdir(proc)) {
    char* end = nullptr;
    long pid = std::strtol(e->d_name, &end, 10);
    if (*end || pid <= 0) continue;
    const std::string cmdline = ReadProcFile("/proc/" + std::string(e->d_name) + "/cmdline");
    if (cmdline.find(text) != std::string::npos) found.push_back(static_cast<pid_t>(pid));
  }
  ::closedir(proc);
  return found;
}

// The processes (zombies included) whose parent is `parent`.
inline std::vector<pid_t> ChildrenOf(pid_t parent) {
  std::vector<pid_t> children;
  DIR* proc = ::opendir("/proc");
  if (!proc) return children;
  while (dirent* e = ::readdir(proc)) {
    char* end = nullptr;
    long pid = std::strtol(e->d_name, &end, 10);
    if (*end || pid <= 0) continue;
    const std::string line = ReadProcFile("/proc/" + std::string(e->d_name) + "/stat");
    if (line.empty()) continue;
    size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    char state;
    long ppid = 0;
    rest >> state >> ppid;
    if (ppid == parent) children.push_back(static_cast<pid_t>(pid));
  }
  ::closedir(proc);
  return children;
}

// The command line of a process, one element per argument.
inline std::vector<std::string> CommandLine(pid_t pid) {
  std::string text = ReadProcFile("/proc/" + std::to_string(pid) + "/cmdline");
  std::vector<std::string> args;
  std::string arg;
  for (char c : text) {
    if (c == '\0') {
      args.push_back(arg);
      arg.clear();
    } else {
      arg += c;
    }
  }
  return args;
}

// Runs this test program again in a process of its own with only the
// (disabled) test `filter`, its output into `output`; true when that process
// passed exactly one test. `text` gets what it printed.
inline bool RunOwnTestInFreshProcess(const std::string& filter, const std::string& output,
                                     std::string& text) {
  std::string self = ReadFile("/proc/self/cmdline");
  self = self.substr(0, self.find('\0'));
  std::vector<std::string> args = {self, "--gtest_also_run_disabled_tests",
                                   "--gtest_filter=" + filter};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  text.clear();
  if (rc != 0) return false;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return false;
  text = ReadFile(output);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
         text.find("[  PASSED  ] 1 test") != std::string::npos;
}

inline bool ProcessExists(pid_t pid) {
  return std::filesystem::exists("/proc/" + std::to_string(pid));
}

}  // namespace simtest
