#include "platform/suite/EvRstTask.h"

EvRstTask::EvRstTask(int64_t jobId, int, void*, bool, bool) : EvTask(jobId) {}

std::vector<std::string>* EvRstTask::List(int list) {
  if (list == kSourcePaths) return &mutableDescription().pathList1;
  if (list == kFilterPaths) return &mutableDescription().pathList2;
  return nullptr;
}

bool EvRstTask::getFirstPath(int list, std::string& path) {
  std::vector<std::string>* entries = List(list);
  if (!entries) return false;
  cursor_[list - 1] = 0;
  return getNextPath(list, path);
}

bool EvRstTask::getNextPath(int list, std::string& path) {
  std::vector<std::string>* entries = List(list);
  if (!entries) return false;
  size_t& cursor = cursor_[list - 1];
  if (cursor >= entries->size()) return false;
  path = (*entries)[cursor++];
  return true;
}

bool EvRstTask::addPath(int list, const std::string& path) {
  std::vector<std::string>* entries = List(list);
  if (!entries) return false;
  entries->push_back(path);
  return true;
}

std::vector<std::string> EvRstTask::getPaths(int list) const {
  if (list == kSourcePaths) return description().pathList1;
  if (list == kFilterPaths) return description().pathList2;
  return {};
}
