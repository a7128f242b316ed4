#pragma once

#include <cstdint>
#include <string>

// The central server's side of its stored procedures, answered from the
// suite's records (CSuiteStore::Default() and the client directory). A
// procedure is addressed by the tag id of its request record; request and
// reply are the XML text of records.
//
// 0x1E122479, clients of node addresses: request namespace 30 class 1938
// (field 1: list of addresses), reply 30/1939 (field 1: list of client
// entities 18/4). For each requested address, in request order, the client
// that lists it among its addresses (or whose host name it is) is answered
// with its id, its name and, as host name, the requested address itself: that
// is how the caller matches a client to an address. An address that no client
// owns gets no entry, so a client entity always names a real client; an
// address asked twice is answered twice.
//
// 0x1E4FDD52, cluster instance properties: request 30/566 and reply 30/567,
// each with field 1 a cluster instance record 30/565 (field 1 instance entity
// 18/8 with the instance id, field 2 operation, field 3 cluster type, which
// must be 9, field 4 the cluster configuration 30/564).
// - Operation 1 (get): the reply carries the request's instance record with
//   field 4 filled: its field 6 a Cassandra configuration 30/1722 with the
//   gateway node 30/1721 (node 30/1720 with the gateway host as address, the
//   Java home, the JMX and authentication records, and the CQL user
//   credentials when a user is set), the stored node list (always present,
//   possibly empty), the cluster name (when known) and the configuration
//   file path (only when the instance names one).
// - Operation 2 (set): stores the node list of the request's Cassandra
//   configuration as the instance's node list (every other field of the
//   request is left as it is stored); the reply carries the request's
//   instance record. A set without a node list is refused rather than taken
//   for an empty one.
class CCentralServerProcedures {
 public:
  static constexpr uint32_t kGetClientsForIPs = 0x1E122479;
  static constexpr uint32_t kDistributedClusterInstance = 0x1E4FDD52;

  // Results of Execute.
  enum Result {
    kOk = 0,
    kUnknownProcedure = 1,    // no procedure of that id
    kBadRequest = 2,          // the request text is not the procedure's request
    kNotFound = 3,            // the instance is not registered
    kRecordsUnavailable = 4,  // the suite's records cannot be read or written
  };

  // Runs the procedure; on kOk `reply` holds the reply's XML text, otherwise
  // `errorText` says why and `reply` is left as it was.
  static int Execute(uint32_t procedureId, const std::string& request, std::string& reply,
                     std::string& errorText);

 private:
  static int GetClientsForIPs(const std::string& request, std::string& reply,
                              std::string& errorText);
  static int DistributedClusterInstance(const std::string& request, std::string& reply,
                                        std::string& errorText);
};
