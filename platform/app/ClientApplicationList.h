#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The applications the suite knows, by backup set.
class ClientApplicationList {
 public:
  // The registered subclients of the backup set, in ascending id order, with
  // their names at the same positions. Only subclients whose instance is of
  // `applicationType` are listed; type 0 lists every type. `context` and
  // `flags` are not used. 0 on success (also when the backup set has no
  // subclient); -1 when the records cannot be read, the lists then empty.
  static int getSubclientList(std::vector<uint64_t>& ids, std::vector<std::string>& names,
                              int64_t applicationType, uint64_t backupSetId, void* context,
                              int flags);
};
