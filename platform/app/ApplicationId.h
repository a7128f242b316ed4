#pragma once

#include <cstdint>
#include <memory>

#include "platform/app/BackupSet.h"
#include "platform/framework/Instance.h"
#include "platform/framework/Subclient.h"
#include "platform/suite/TQClient.h"

// The application a job works on, named by the installation (Ombrel) id and
// the application id, which is the id of the application's subclient. Made
// from the registered records (CSuiteStore::Default()): the subclient, its
// instance, its backup set and the instance's client. The subclient is a
// CassandraSubclient and the instance a CassandraInstance when the instance
// is of the Cassandra application type; otherwise both are plain entities that
// only know their ids and names.
//
// The application is valid when both ids are non-zero and the subclient and
// its instance are registered; an invalid application gives no objects (null
// pointers). The objects belong to the application.
class ApplicationId {
 public:
  ApplicationId(uint64_t ombrelId, uint64_t applicationId);
  ~ApplicationId();
  ApplicationId(const ApplicationId&) = delete;
  ApplicationId& operator=(const ApplicationId&) = delete;

  bool isValid() const { return subclient_ != nullptr; }
  uint64_t getOmbrelId() const { return ombrelId_; }
  uint64_t getApplicationId() const { return applicationId_; }

  Subclient* getSubclient() const { return subclient_.get(); }
  Instance* getInstance() const { return instance_.get(); }
  BackupSet* getBackupSet() const { return backupSet_.get(); }
  // The instance's client; a client that is not registered gives a TQClient
  // whose getters fail.
  TQClient* getClient() const { return client_.get(); }

 private:
  uint64_t ombrelId_;
  uint64_t applicationId_;
  std::unique_ptr<Subclient> subclient_;
  std::unique_ptr<Instance> instance_;
  std::unique_ptr<BackupSet> backupSet_;
  std::unique_ptr<TQClient> client_;
};
