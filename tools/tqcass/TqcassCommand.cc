#include "tools/tqcass/TqcassCommand.h"

#include "platform/base/FXString.h"

namespace TqCass {

int CTqcassCommand::CheckHome(const std::string&) { return kOk; }

int CTqcassCommand::PrepareHome(CCommandContext&) { return kOk; }

CLI::Option* AddNumber(CLI::App& command, const std::string& name, long long& value,
                       long long minimum, long long maximum, const std::string& description) {
  const std::string range = std::to_string(minimum) + " to " + std::to_string(maximum);
  CLI::Validator check(
      [minimum, maximum, range](std::string& input) -> std::string {
        const bool digits =
            !input.empty() &&
            input.find_first_not_of("0123456789", input[0] == '-' ? 1 : 0) == std::string::npos &&
            input != "-";
        if (!digits) return "\"" + input + "\" is not a whole number (" + range + ")";
        long long parsed = 0;
        if (!FXString::ParseDecimal(input, minimum, maximum, parsed)) {
          return input + " is out of range (" + range + ")";
        }
        return std::string();
      },
      range, "");
  return command.add_option(name, value, description)->check(check)->type_name("N");
}

}  // namespace TqCass
