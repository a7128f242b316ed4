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

double Median(std::vector<double> values);
// "median (min to max)" of a set of figures.
std::string Spread(const std::vector<double>& values, const char* format = "%.1f");

}  // namespace TqBench
