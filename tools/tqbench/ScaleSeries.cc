#include "tools/tqbench/ScaleSeries.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <fstream>

#include "tools/tqbench/BenchSupport.h"

extern char** environ;

namespace TqBench {

namespace {

constexpr int kNodes = 3;
constexpr int kKeyspaces = 4;
constexpr int kTables = 4;
constexpr int kFilesPerSSTable = 8;

struct SRun {
  bool ok = false;
  double seconds = 0;
  long maxRssKiB = 0;  // peak resident memory of the process
};

// Runs `args` with its standard output into `output`; the wall time and the
// peak resident memory come from the process's own end (wait4).
SRun RunMeasured(const std::vector<std::string>& args, const std::string& output) {
  SRun run;
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return run;
  int rc = posix_spawn_file_actions_addopen(&actions, 1, output.c_str(),
                                            O_WRONLY | O_CREAT | O_APPEND, 0644);
  const auto start = Clock::now();
  pid_t pid = -1;
  if (rc == 0) rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
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

std::string Load() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

}  // namespace

int CScaleSeries::Run() const {
  std::printf(
      "\n== Scale series: small files, backup and in-place restore as whole processes ==\n");
  std::printf(
      "cluster: %d nodes x %d keyspaces x %d tables, SSTables of %d files (2,000 bytes of "
      "data); full backup with 2 streams; restore of that backup, tables truncated\n",
      kNodes, kKeyspaces, kTables, kFilesPerSSTable);
  std::printf("%-8s %-8s %-16s %10s %12s %14s\n", "files", "job", "load (1 5 15)", "seconds",
              "ms per file", "peak RSS MiB");
  int rc = 0;
  for (long files : fileCounts_) {
    const long tables = static_cast<long>(kNodes) * kKeyspaces * kTables;
    const long perSSTable = tables * kFilesPerSSTable;
    const long sstables = (files + perSSTable - 1) / perSSTable;
    const std::string home = work_ + "/scale-" + std::to_string(files);
    const std::string log = home + ".out";
    const std::vector<std::string> base = {tqcass_, "--home", home};
    auto with = [&](std::vector<std::string> tail) {
      std::vector<std::string> args = base;
      args.insert(args.end(), tail.begin(), tail.end());
      return args;
    };
    if (!RunMeasured(with({"cluster", "--nodes", std::to_string(kNodes), "--keyspaces",
                           std::to_string(kKeyspaces), "--tables", std::to_string(kTables),
                           "--sstables", std::to_string(sstables), "--size", "2000"}),
                     log)
             .ok ||
        !RunMeasured(with({"register"}), log).ok) {
      std::fprintf(stderr, "tqbench: cannot make the cluster of %ld files (see %s)\n", files,
                   log.c_str());
      rc = 1;
      continue;
    }
    // The cluster's files: SSTable files and each table's snapshot records.
    const long made = sstables * perSSTable;
    const struct {
      const char* name;
      std::vector<std::string> args;
    } jobs[] = {
        {"backup", {"backup", "--quiet", "--streams", "2"}},
        {"restore", {"restore", "--quiet", "1"}},
    };
    for (const auto& job : jobs) {
      const std::string load = Load();
      const SRun run = RunMeasured(with(job.args), log);
      if (!run.ok) {
        std::fprintf(stderr, "tqbench: the %s of %ld files failed (see %s)\n", job.name, made,
                     log.c_str());
        rc = 1;
        break;
      }
      std::printf("%-8ld %-8s %-16s %10.1f %12.3f %14.1f\n", made, job.name, load.c_str(),
                  run.seconds, 1000.0 * run.seconds / static_cast<double>(made),
                  static_cast<double>(run.maxRssKiB) / 1024.0);
    }
  }
  std::printf("(files: the SSTable files; each table's snapshot records add a few more)\n");
  return rc;
}

}  // namespace TqBench
