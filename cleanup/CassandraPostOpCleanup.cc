#include "cleanup/CassandraPostOpCleanup.h"

namespace TQCassandra {

CassandraPostOpCleanup::CassandraPostOpCleanup() { setStartAllNodes(true); }

CassandraPostOpCleanup::~CassandraPostOpCleanup() = default;

}  // namespace TQCassandra
