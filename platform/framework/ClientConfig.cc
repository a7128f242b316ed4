#include "platform/framework/ClientConfig.h"

#include <limits>

#include "platform/base/FXErrorUtil.h"
#include "platform/framework/FrameworkArguments.h"
#include "platform/framework/ProgramArguments.h"

namespace DistributedQEL {

namespace {

// Reads a numeric option into `out` when present and within [low, high].
CQiError ReadNumber(const CProgramArguments& args, const char* name, int64_t low, int64_t high,
                    bool& found, int64_t& out) {
  found = false;
  if (!args.hasOption(name)) return CQiError::Success();
  int64_t value = 0;
  CQiError error = args.getNumberValue(name, value);
  if (error.IsError()) return error.Push(FXLOC);
  if (value < low || value > high) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Argument -%s out of range: %lld", name,
                                   static_cast<long long>(value));
  }
  found = true;
  out = value;
  return CQiError::Success();
}

}  // namespace

CClientConfig::CClientConfig(int kind) : kind_(kind) {}

CQiError CClientConfig::parseArguments(CProgramArgumentsPtr arguments) {
  if (!arguments) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No program arguments");
  programArguments_ = arguments;
  const CProgramArguments& args = *arguments;
  bool found = false;
  int64_t n = 0;
  const int64_t u32 = std::numeric_limits<uint32_t>::max();
  const int64_t i32 = std::numeric_limits<int32_t>::max();
  const int64_t i64 = std::numeric_limits<int64_t>::max();

  CQiError error = ReadNumber(args, CFrameworkArguments::kOmbrelId, 0, u32, found, n);
  if (error.IsError()) return error.Push(FXLOC);
  if (found) ombrelId_ = static_cast<uint32_t>(n);
  error = ReadNumber(args, CFrameworkArguments::kApplicationId, 0, u32, found, n);
  if (error.IsError()) return error.Push(FXLOC);
  if (found) applicationId_ = static_cast<uint32_t>(n);
  error = ReadNumber(args, CFrameworkArguments::kInstanceId, 0, i64, found, n);
  if (error.IsError()) return error.Push(FXLOC);
  if (found) instanceId_ = static_cast<uint64_t>(n);
  error = ReadNumber(args, CFrameworkArguments::kJobId, 0, i64, found, n);
  if (error.IsError()) return error.Push(FXLOC);
  if (found) jobId_ = n;
  error = ReadNumber(args, CFrameworkArguments::kBackupLevel, TQBkpLevel_Full,
                     TQBkpLevel_Incremental, found, n);
  if (error.IsError()) return error.Push(FXLOC);
  if (found) backupLevel_ = static_cast<int>(n);
  error = ReadNumber(args, CFrameworkArguments::kNumberOfStreams, 0, i32, found, n);
  if (error.IsError()) return error.Push(FXLOC);
  if (found) numberOfStreams_ = static_cast<int32_t>(n);

  struct {
    const char* name;
    std::string* field;
  } texts[] = {{CFrameworkArguments::kJobToken, &jobToken_},
               {CFrameworkArguments::kMediaAgent, &mediaAgentName_},
               {CFrameworkArguments::kJobResultsDirectory, &jobResultsDirectory_}};
  for (const auto& t : texts) {
    if (!args.hasOption(t.name)) continue;
    error = args.getStringValue(t.name, *t.field);
    if (error.IsError()) return error.Push(FXLOC);
  }
  return CQiError::Success();
}

CQiError CClientConfig::GetSubclientDirectory(std::string& directory) {
  directory.clear();
  return CQiError::Success();
}

CQiError CClientConfig::CalculateStreams(size_t) { return CQiError::Success(); }

}  // namespace DistributedQEL
