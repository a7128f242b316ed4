#include "tools/tqcass/CommandTable.h"

namespace TqCass {

std::vector<std::unique_ptr<CTqcassCommand>> MakeCommands() {
  std::vector<std::unique_ptr<CTqcassCommand>> commands;
  commands.push_back(MakeClusterCommand());
  commands.push_back(MakeRegisterCommand());
  commands.push_back(MakeBackupCommand());
  commands.push_back(MakeRestoreCommand());
  commands.push_back(MakeDamageCommand());
  commands.push_back(MakeJobsCommand());
  commands.push_back(MakeShowCommand());
  commands.push_back(MakeVerifyCommand());
  commands.push_back(MakeChangeCommand());
  commands.push_back(MakeBrowseCommand());
  commands.push_back(MakeDemoCommand());
  return commands;
}

}  // namespace TqCass
