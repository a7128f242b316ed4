#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/msg/NMessageBase.h"

// The distributed framework's own messages between a coordinator and its node
// controllers, and the task and stream records it hands to them (namespace
// 119). Only the fields the plug-in fills or reads are named here.
namespace DistributedQEL {

// One name/value pair; lists of them carry option lists, node start payloads
// and the controllers' start-up and done values.
class DINameValue : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 13;
  DINameValue() : CNMessageBase(kNamespaceId, kClassId) {}
  DINameValue(const std::string& name, const std::string& value) : DINameValue() {
    setName(name);
    setValue(value);
  }

  std::string getName() const { return getstring(1, 1); }
  void setName(const std::string& v) { setstring(1, 1, v); }
  std::string getValue() const { return getstring(2, 5); }
  void setValue(const std::string& v) { setstring(2, 5, v); }
};

// The node start payload a coordinator sends a started controller.
class NodeInit : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 5;
  NodeInit() : CNMessageBase(kNamespaceId, kClassId) {}

  std::vector<DINameValue> getValues() const { return getListAs<DINameValue>(1, 1); }
  void setValues(const std::vector<DINameValue>& v) { setListOf(1, 1, v); }
};

// Tells a controller to stop; no fields.
class NodeStop : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 38;
  NodeStop() : CNMessageBase(kNamespaceId, kClassId) {}
};

// A controller's start-up report; the plug-in adds name/value entries.
class ControllerStartup : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 9001;
  ControllerStartup() : CNMessageBase(kNamespaceId, kClassId) {}

  std::vector<DINameValue> getValues() const { return getListAs<DINameValue>(9, 12); }
  void setValues(const std::vector<DINameValue>& v) { setListOf(9, 12, v); }
};

// A controller's final report.
class ControllerDone : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 9002;
  // Result of a controller that failed to initialise.
  static constexpr int64_t kResultInitFailed = 3;
  ControllerDone() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getResult() const { return getint64(1); }
  void setResult(int64_t v) { setint64(1, 1, v); }
  std::vector<DINameValue> getValues() const { return getListAs<DINameValue>(6, 9); }
  void setValues(const std::vector<DINameValue>& v) { setListOf(6, 9, v); }
};

class TaskID : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 37;
  TaskID() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getTaskId() const { return getint64(1); }
  void setTaskId(int64_t v) { setint64(1, 1, v); }
};

// A task handed to a stream: its id and the plug-in's payload text.
class TaskInfo : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 9003;
  TaskInfo() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<TaskID> getTaskId() const { return getObjectAs<TaskID>(2, 2); }
  void setTaskId(const TaskID& v) { setObjectAccessor(2, 2, v); }
  std::string getPayload() const { return getstring(6, 6); }
  void setPayload(const std::string& v) { setstring(6, 6, v); }
};

// What a stream asks for: the task kind (0 = any).
class TaskRequest : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 9004;
  TaskRequest() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getTaskKind() const { return getint64(2); }
  void setTaskKind(int64_t v) { setint64(2, 2, v); }
};

class StreamInfo : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 9005;
  StreamInfo() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getStreamNumber() const { return getint64(3); }
  void setStreamNumber(int64_t v) { setint64(3, 3, v); }
};

// Counters of a restore task.
class RestoreTaskStats : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 29;
  RestoreTaskStats() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getSourcePathCount() const { return getint64(12); }
  void setSourcePathCount(int64_t v) { setint64(12, 12, v); }
};

// A restore task, carried as XML text in a TaskInfo payload.
class RestoreTaskInfo : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 34;
  RestoreTaskInfo() : CNMessageBase(kNamespaceId, kClassId) {}

  // What the data mover needs of the task beyond its paths: the archive file
  // whose items it restores, the job's time range (seconds, 0 = open) and the
  // destination folder of a file-system restore ("" = the source paths).
  int64_t getArchiveFileId() const { return getint64(1); }
  void setArchiveFileId(int64_t v) { setint64(1, 1, v); }
  int64_t getFromTime() const { return getint64(2); }
  void setFromTime(int64_t v) { setint64(2, 2, v); }
  int64_t getToTime() const { return getint64(4); }
  void setToTime(int64_t v) { setint64(4, 4, v); }
  int64_t getArchiveGroup() const { return getint64(5); }
  void setArchiveGroup(int64_t v) { setint64(5, 5, v); }
  std::string getDestinationPath() const { return getstring(7, 7); }
  void setDestinationPath(const std::string& v) { setstring(7, 7, v); }

  std::vector<std::string> getSourcePaths() const { return getStringList(3, 3); }
  void setSourcePaths(const std::vector<std::string>& v) { setliststring(3, 3, v); }
  std::vector<std::string> getFilterPaths() const { return getStringList(6, 6); }
  void setFilterPaths(const std::vector<std::string>& v) { setliststring(6, 6, v); }
  std::optional<RestoreTaskStats> getStats() const { return getObjectAs<RestoreTaskStats>(15, 15); }
  void setStats(const RestoreTaskStats& v) { setObjectAccessor(15, 15, v); }
};

}  // namespace DistributedQEL
