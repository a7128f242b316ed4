#include "tools/tqbench/ScaleSeries.h"

#include <cstdio>
#include <map>

#include "tools/tqbench/BenchSupport.h"

namespace TqBench {

namespace {

constexpr int kNodes = 3;
constexpr int kKeyspaces = 4;
constexpr int kTables = 4;
constexpr int kFilesPerSSTable = 8;
// The run the largest one is compared with.
constexpr long kBaseFiles = 10000;

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
  // Per job name: the requested number of files -> ms per file and peak RSS.
  std::map<std::string, std::map<long, std::pair<double, double>>> figures;
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
      const std::string load = LoadAverages();
      const ProcessRun run = RunMeasured(with(job.args), log);
      const double msPerFile = 1000.0 * run.seconds / static_cast<double>(made);
      const double rssMiB = static_cast<double>(run.maxRssKiB) / 1024.0;
      if (!run.ok) {
        std::fprintf(stderr, "tqbench: the %s of %ld files failed (see %s)\n", job.name, made,
                     log.c_str());
        rc = 1;
        break;
      }
      std::printf("%-8ld %-8s %-16s %10.1f %12.3f %14.1f\n", made, job.name, load.c_str(),
                  run.seconds, msPerFile, rssMiB);
      figures[job.name][files] = {msPerFile, rssMiB};
    }
  }
  std::printf("(files: the SSTable files; each table's snapshot records add a few more)\n");
  // How the largest run compares with the 10,000-file one (or the smallest).
  for (const auto& job : figures) {
    const auto& byFiles = job.second;
    if (byFiles.size() < 2) continue;
    auto base = byFiles.find(kBaseFiles);
    if (base == byFiles.end()) base = byFiles.begin();
    const auto& largest = *byFiles.rbegin();
    if (largest.first == base->first) continue;
    std::printf("%s, %ld files against %ld: time per file %.2f times, peak RSS %.2f times\n",
                job.first.c_str(), largest.first, base->first,
                largest.second.first / base->second.first,
                largest.second.second / base->second.second);
  }
  return rc;
}

}  // namespace TqBench
