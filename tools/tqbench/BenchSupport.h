#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// Timing, flushing and program helpers the benchmark's parts share.
namespace TqBench {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start);
// MB (10^6 bytes) per second; 0 for no time.
double MBps(uint64_t bytes, double seconds);

// Runs a program with its standard output sent to `output` ("" keeps it);
// true when it exits with 0.
bool RunProgram(const std::vector<std::string>& args, const std::string& output);
// Flushes the file system that holds `path` and returns the seconds it took.
double SyncFileSystem(const std::string& path);
// Regular files directly in `dirs` and their bytes.
void CountFiles(const std::vector<std::string>& dirs, uint64_t& files, uint64_t& bytes);

// What a whole process did: its exit, wall time and peak resident memory.
struct ProcessRun {
  bool ok = false;  // it exited with 0
  double seconds = 0;
  long maxRssKiB = 0;
};
// Runs `args` (a path, not looked up) with its standard output appended to
// `output`; the wall time and the peak resident memory come from the
// process's own end (wait4), so one job's figure never includes another's.
// A spawned process starts from its parent's memory, and the kernel keeps
// the parent's peak as the child's when that is larger: the peak of a job
// is only its own above this process's peak (OwnMaxRssKiB).
// `env` ("NAME=value") is added to this process's environment for it,
// replacing a variable of the same name.
ProcessRun RunMeasured(const std::vector<std::string>& args, const std::string& output,
                       const std::vector<std::string>& env = {});
long OwnMaxRssKiB();

// The load averages of /proc/loadavg: "1 5 15" minutes as text, and the
// 1-minute figure alone.
std::string LoadAverages();
double LoadAverage1();

// Table folders <data dir>/<keyspace>/<table>-<id> of the user keyspaces
// (those named ks...), sorted.
std::vector<std::string> TableDirs(const std::vector<std::string>& dataDirs);
// Hard-links the live SSTables of every table folder into
// snapshots/<name>/; false with the reason on standard error.
bool Snapshot(const std::vector<std::string>& tableDirs, const std::string& name);

double Median(std::vector<double> values);
// "median (min to max)" of a set of figures.
std::string Spread(const std::vector<double>& values, const char* format = "%.1f");

}  // namespace TqBench
