#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/msg/EntityRecords.h"

namespace TQCassandra {

// The suite clients of Cassandra node addresses, as the central server's
// stored procedure 0x1E122479 gives them: one client entity per address that
// a client owns, carrying that address as its host name.
class CassandraClientLookup {
 public:
  static constexpr uint32_t kProcedureId = 0x1E122479;

  // Asks for the clients of `addresses` (in order, repeats as given). Error
  // 13 when the request cannot be written, the procedure fails or its reply
  // cannot be read.
  static CQiError ClientsForAddresses(const std::list<std::string>& addresses,
                                      std::vector<TqEntities::ClientEntity>& clients);

  // This machine's client name as the remote-command service knows it: the
  // suite client's name where the suite's client software runs, else the
  // physical machine's name (255 characters at most).
  static std::string LocalClientName();
};

}  // namespace TQCassandra
