#pragma once

#include <string>
#include <vector>

#include "platform/network/TqRemoteCommandPeer.h"
#include "sim/lib/SimRemoteUtility.h"

namespace TqSim {

// The "-systemKeyCopy" mode of the node utility: receives one key message
// (namespace 119, class 65: a list of keys, each 119/64 with the key file's
// path and its content encrypted with the suite's password cipher), decrypts
// every key and writes it, under the base name of its path, into the system
// key folder that each node's dse.yaml names ("system_key_directory"; made
// with mode 0700 when missing). Each file is written whole under a temporary
// name with mode 0600 and renamed. Then it answers one name/value record
// "complete" = "true", or "false" when anything failed.
class SimSystemKeyCopy {
 public:
  static constexpr const char* kMode = "systemKeyCopy";

  // The exit status of the program.
  static int Run(CTqRemoteCommandPeer& peer, const std::vector<SimUtilityNode>& nodes,
                 const std::string& faultAction);

  struct Key {
    std::string fileName;
    std::string content;
  };
  // The keys of a received record: false (with `error`) for a record of
  // another kind, a key that does not decrypt, or a path whose base name is
  // no plain file name.
  static bool ReadKeys(const CNMessageBase& message, std::vector<Key>& keys, std::string& error);
  // The system key folder of a node's dse.yaml.
  static bool KeyFolder(const std::string& confDir, std::string& folder, std::string& error);
  static bool WriteKey(const std::string& folder, const Key& key, std::string& error);
};

}  // namespace TqSim
