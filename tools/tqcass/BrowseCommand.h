#pragma once

#include <string>

#include "tools/lib/JobHarness.h"

// "tqcass browse nodes|keyspaces [--subclient ID]": the cluster's nodes or
// keyspaces as the plug-in's cluster browser lists them, printed as a table.
// `what` is "nodes" or "keyspaces"; `subclient` the option's text ("" when
// not given). Returns the exit status: 0, 1 when the browse failed (its
// reason on standard error) or 2 for a usage error.
int CmdBrowse(TqHarness::CJobHarness& harness, const std::string& what,
              const std::string& subclient);
