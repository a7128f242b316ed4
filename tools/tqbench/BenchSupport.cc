#include "tools/tqbench/BenchSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/base/FXString.h"
#include "sim/lib/SimTableDir.h"

namespace TqBench {

namespace fs = std::filesystem;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double MBps(uint64_t bytes, double seconds) {
  return seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0.0;
}

// The program is spawned, not forked by hand: by
// then the job harness has started threads, and a forked child of a threaded
// process may not allocate before its exec.
bool RunProgram(const std::vector<std::string>& args, const std::string& output) {
  if (args.empty()) return false;
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  int rc = 0;
  if (!output.empty()) {
    rc = posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                          0644);
  }
  pid_t pid = -1;
  if (rc == 0) rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double SyncFileSystem(const std::string& path) {
  auto start = Clock::now();
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    syncfs(fd);
    close(fd);
  } else {
    sync();
  }
  return SecondsSince(start);
}

void CountFiles(const std::vector<std::string>& dirs, uint64_t& files, uint64_t& bytes) {
  files = bytes = 0;
  for (const auto& dir : dirs) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
      if (!entry.is_regular_file()) continue;
      ++files;
      bytes += entry.file_size();
    }
  }
}

ProcessRun RunMeasured(const std::vector<std::string>& args, const std::string& output,
                       const std::vector<std::string>& env) {
  ProcessRun run;
  if (args.empty()) return run;
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('=') + 1);
    const bool replaced = std::any_of(env.begin(), env.end(), [&](const std::string& added) {
      return added.compare(0, name.size(), name) == 0;
    });
    if (!replaced) envp.push_back(*e);
  }
  for (const auto& added : env) envp.push_back(const_cast<char*>(added.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return run;
  int rc = posix_spawn_file_actions_addopen(&actions, 1, output.c_str(),
                                            O_WRONLY | O_CREAT | O_APPEND, 0644);
  const auto start = Clock::now();
  pid_t pid = -1;
  if (rc == 0) rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return run;
  int status = 0;
  struct rusage usage {};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) return run;
  }
  run.seconds = SecondsSince(start);
  run.maxRssKiB = usage.ru_maxrss;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

long OwnMaxRssKiB() {
  struct rusage usage {};
  return getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_maxrss : 0;
}

std::string LoadAverages() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

double LoadAverage1() { return std::atof(LoadAverages().c_str()); }

std::vector<std::string> TableDirs(const std::vector<std::string>& dataDirs) {
  std::vector<std::string> out;
  for (const auto& dataDir : dataDirs) {
    std::error_code ec;
    for (const auto& ks : fs::directory_iterator(dataDir, ec)) {
      if (!ks.is_directory() || ks.path().filename().string().rfind("ks", 0) != 0) continue;
      for (const auto& table : fs::directory_iterator(ks.path(), ec)) {
        if (table.is_directory()) out.push_back(table.path().string());
      }
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

bool Snapshot(const std::vector<std::string>& tableDirs, const std::string& name) {
  for (const auto& dir : tableDirs) {
    std::string error;
    if (!TqSim::SimTableDir(dir, "mc").Snapshot(name, "", error)) {
      std::fprintf(stderr, "tqbench: %s\n", error.c_str());
      return false;
    }
  }
  return true;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0.0 : values[values.size() / 2];
}

std::string Spread(const std::vector<double>& values, const char* format) {
  if (values.empty()) return "-";
  const auto range = std::minmax_element(values.begin(), values.end());
  const std::string f = std::string(format) + " (" + format + " to " + format + ")";
  return FXString::Format(f.c_str(), Median(values), *range.first, *range.second);
}

}  // namespace TqBench
