#include "platform/framework/FrameworkArguments.h"

#include "platform/framework/ProgramArguments.h"

std::string CFrameworkArguments::Format() const {
  std::string line;
  auto add = [&line](const char* name, const std::string& value) {
    if (!line.empty()) line += ' ';
    line += '-';
    line += name;
    line += ' ';
    line += CProgramArguments::Quote(value);
  };
  add(kOmbrelId, std::to_string(ombrelId));
  add(kApplicationId, std::to_string(applicationId));
  if (instanceId != 0) add(kInstanceId, std::to_string(instanceId));
  add(kJobId, std::to_string(jobId));
  if (!jobToken.empty()) add(kJobToken, jobToken);
  if (backupLevel != 0) add(kBackupLevel, std::to_string(backupLevel));
  if (numberOfStreams >= 0) add(kNumberOfStreams, std::to_string(numberOfStreams));
  if (!mediaAgent.empty()) add(kMediaAgent, mediaAgent);
  add(kJobResultsDirectory, jobResultsDirectory);
  for (const auto& flag : flags) {
    line += ' ';
    line += CProgramArguments::Quote(flag);
  }
  return line;
}

std::string CFrameworkArguments::FormatNodeLine(int numberOfStreams, int backupLevel,
                                                const std::string& mediaAgent,
                                                int collectFileStart) {
  return std::string("-") + kNumberOfStreams + " " + std::to_string(numberOfStreams) + " -" +
         kBackupLevel + " " + std::to_string(backupLevel) + " -" + kMediaAgent + " " +
         CProgramArguments::Quote(mediaAgent) + " -" + kCollectFileStart + " " +
         std::to_string(collectFileStart);
}
