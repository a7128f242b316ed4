#pragma once

#include <memory>
#include <vector>

#include "tools/tqcass/TqcassCommand.h"

namespace TqCass {

// Every command of tqcass, in the order --help lists them. A new command is
// a CTqcassCommand in a file of its own whose factory is added here.
std::vector<std::unique_ptr<CTqcassCommand>> MakeCommands();

std::unique_ptr<CTqcassCommand> MakeClusterCommand();
std::unique_ptr<CTqcassCommand> MakeRegisterCommand();
std::unique_ptr<CTqcassCommand> MakeBackupCommand();
std::unique_ptr<CTqcassCommand> MakeRestoreCommand();
std::unique_ptr<CTqcassCommand> MakeDamageCommand();
std::unique_ptr<CTqcassCommand> MakeJobsCommand();
std::unique_ptr<CTqcassCommand> MakeShowCommand();
std::unique_ptr<CTqcassCommand> MakeVerifyCommand();
std::unique_ptr<CTqcassCommand> MakeChangeCommand();
std::unique_ptr<CTqcassCommand> MakeBrowseCommand();
std::unique_ptr<CTqcassCommand> MakeDemoCommand();

}  // namespace TqCass
