// The node-side utility that coordinators start through the remote-command
// channel (see SimRemoteUtility).

#include "sim/lib/SimRemoteUtility.h"

int main(int argc, char** argv) { return TqSim::SimRemoteUtility::Main(argc, argv); }
