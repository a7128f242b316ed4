#include "platform/multinode/UnixFileNameFactory.h"

#include "platform/base/FXPath.h"

std::string CUnixFileNameFactory::CollectFileName(int level, int number) {
  return "Collect" + std::string(GetKind(level)) + std::to_string(number) + ".tqf";
}

std::string CUnixFileNameFactory::TempCollectFileName(int level, int number) {
  return "Collect" + std::string(GetKind(level)) + std::to_string(number) + "tmp.tqf";
}

std::string CUnixFileNameFactory::GetCollectFilePath(int number) const {
  return FXPath::Join(directory_, CollectFileName(level_, number));
}

std::string CUnixFileNameFactory::GetTempCollectFilePath(int number) const {
  return FXPath::Join(directory_, TempCollectFileName(level_, number));
}
