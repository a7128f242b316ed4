#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// A job's results folder of one kind on this client: "<job results directory
// of this client>/TQ_JobResults/<kind>/0/<job id>" (kind 2: restore results,
// the folder where the data movers leave their restore result files), and
// its raw results files "JobResults_<n>.raw".
class StoreResults {
 public:
  // `create` makes the folder with its parents when missing; `context` is
  // accepted and not interpreted.
  StoreResults(int kind, int64_t jobId, bool create, void* context);
  ~StoreResults();
  StoreResults(const StoreResults&) = delete;
  StoreResults& operator=(const StoreResults&) = delete;

  // The folder, or null when it does not exist (and could not be made).
  const char* getDirectory() const;
  // Opens (creating when missing, appending otherwise) raw results file `n`
  // of the folder and gives its path in `name`. Non-zero on failure.
  int openRaw(int n, std::string& name);
  // Closes the file openRaw opened; 0 when none was open.
  int closeFile();

 private:
  std::string directory_;
  bool exists_ = false;
  FILE* file_ = nullptr;
};
