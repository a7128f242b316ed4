#pragma once

#include "platform/framework/ClientBrowse.h"
#include "platform/framework/Controller.h"
#include "platform/framework/Coordinator.h"

// The plug-in's entry points, exported under these plain names (and nothing
// else; see exports.map). Each call makes a new object with new and hands it
// to the caller as its framework interface; the caller owns it and destroys
// it through the virtual destructor. The job kind is compared byte for byte.
extern "C" {

// "scan", "backup", "postop", "restore", "CassandraLogRestore", "ifrestore"
// or "cleanup"; null for any other kind (and for a null pointer).
DistributedQEL::ICoordinator* createICoordinatorInstance(const char* kind);

// "backup", "postop", "restore", "CassandraLogRestore" or "ifrestore"; null
// for any other kind (and for a null pointer).
DistributedQEL::CController* createIControllerInstance(const char* kind);

// A cluster browser built with `value`.
DistributedQEL::IClientBrowse* createClientBrowseInstance(int value);
}
