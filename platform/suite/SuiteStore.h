#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/suite/ClientDirectory.h"
#include "platform/suite/SuiteRecordTypes.h"

// The central server's records of the suite: its clients, application
// instances and subclients, kept as JSON files in one directory so that every
// process of the suite (the job runner, a node controller, a restore weeks
// later, the command-line front end) reads the same records:
//
//   <directory>/clients.json     {"clients":    [ client, ... ]}
//   <directory>/instances.json   {"instances":  [ instance, ... ]}
//   <directory>/subclients.json  {"subclients": [ subclient, ... ]}
//   <directory>/.lock            lock file of read-modify-write updates
//
// Every change reads the file, changes it and writes it back as a new file
// that replaces the old one by rename, under an exclusive lock on ".lock"
// (and a process-wide mutex), so readers never see a half-written file and
// concurrent writers from several processes lose no update. Nothing is cached:
// every read goes to the files. A file that is missing holds no records; a
// file that does not parse is reported (Win32 13) and never overwritten.
class CSuiteStore {
 public:
  explicit CSuiteStore(std::string directory);

  // <suite home>/central (CClientContext::SuiteHome at the time of the call).
  static std::string DefaultDirectory();
  // A store over DefaultDirectory().
  static CSuiteStore Default();

  const std::string& directory() const { return directory_; }

  // Clients. A client needs a name; id 0 takes the next free id (the id is
  // given back). A record with the same id is replaced. Refused (Win32 87): a
  // name or an address that another client already has.
  CQiError RegisterClient(SClientRecord& client);
  CQiError LoadClients(std::vector<SClientRecord>& clients) const;
  // Win32 1168 when there is no client of that id.
  CQiError LoadClient(uint64_t id, SClientRecord& client) const;

  // Instances. Id 0 takes the next free id; the record with the same id is
  // replaced. Refused (Win32 87): a client id that is not a registered client.
  CQiError RegisterInstance(SInstanceRecord& instance);
  CQiError LoadInstances(std::vector<SInstanceRecord>& instances) const;
  // Win32 1168 when there is no instance of that id.
  CQiError LoadInstance(uint64_t id, SInstanceRecord& instance) const;
  // Changes one stored instance under the lock; Win32 1168 when unknown.
  CQiError UpdateInstance(uint64_t id, const std::function<void(SInstanceRecord&)>& change);

  // Subclients. Id 0 takes the next free id; the record with the same id is
  // replaced. Refused (Win32 87): an unknown instance, or a second default
  // subclient in one backup set.
  CQiError RegisterSubclient(SSubclientRecord& subclient);
  // In ascending id order.
  CQiError LoadSubclients(std::vector<SSubclientRecord>& subclients) const;
  // Win32 1168 when there is no subclient of that id.
  CQiError LoadSubclient(uint64_t id, SSubclientRecord& subclient) const;
  CQiError UpdateSubclient(uint64_t id, const std::function<void(SSubclientRecord&)>& change);

 private:
  std::string FilePath(const char* name) const;

  std::string directory_;
};
