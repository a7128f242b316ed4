#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The argument line the framework hands a coordinator or a controller, and
// the option names that the client configurations read from it.
//
//   -ombrel <id> -appid <id> [-instance <id>] -j <job id> [-token <job token>]
//   [-t <backup level>] [-numstreams <n>] [-d <media agent>] -jr <job results directory>
//   [<flag> ...]
//
// A coordinator gets every field the job has. A controller gets the job's
// fields without -t, -numstreams and -d, followed by the coordinator's node
// argument line for it (which carries those and its own options).
struct CFrameworkArguments {
  static constexpr const char* kOmbrelId = "ombrel";
  static constexpr const char* kApplicationId = "appid";
  static constexpr const char* kInstanceId = "instance";
  static constexpr const char* kJobId = "j";
  static constexpr const char* kJobToken = "token";
  static constexpr const char* kBackupLevel = "t";
  static constexpr const char* kNumberOfStreams = "numstreams";
  static constexpr const char* kMediaAgent = "d";
  static constexpr const char* kJobResultsDirectory = "jr";
  static constexpr const char* kCollectFileStart = "collectFileStart";
  // Flag of a job that backs up commit logs.
  static constexpr const char* kCommitLogFlag = "log";

  uint32_t ombrelId = 0;
  uint32_t applicationId = 0;
  uint64_t instanceId = 0;  // 0: not written
  int64_t jobId = 0;
  std::string jobToken;      // "": not written
  int backupLevel = 0;       // 0: not written
  int numberOfStreams = -1;  // negative: not written
  std::string mediaAgent;    // "": not written
  std::string jobResultsDirectory;
  std::vector<std::string> flags;

  // The argument line, values quoted where needed.
  std::string Format() const;

  // A backup coordinator's node argument line, "-numstreams <n> -t <level>
  // -d <media agent> -collectFileStart <n>", the media agent quoted where
  // needed (an empty one as ""), so that the controller's parse of its whole
  // line (CProgramArguments::Parse) gives back exactly these values.
  static std::string FormatNodeLine(int numberOfStreams, int backupLevel,
                                    const std::string& mediaAgent, int collectFileStart);
};
