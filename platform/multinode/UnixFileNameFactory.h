#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

// Names of a node's collect files in its job results directory:
// "Collect%s%d.tqf" and, before a surplus file gets its task's number,
// "Collect%s%dtmp.tqf", where %s is "Tot" for a full backup (level 1) and
// "Inc" for any other level.
class CUnixFileNameFactory {
 public:
  CUnixFileNameFactory(int level, const std::string& jobResultsDirectory)
      : level_(level), directory_(jobResultsDirectory) {}

  static const char* GetKind(int level) { return level == 1 ? "Tot" : "Inc"; }
  // "Collect%s%d.tqf" and "Collect%s%dtmp.tqf" alone.
  static std::string CollectFileName(int level, int number);
  static std::string TempCollectFileName(int level, int number);

  // The same names as paths in the job results directory.
  std::string GetCollectFilePath(int number) const;
  std::string GetTempCollectFilePath(int number) const;
  int GetLevel() const { return level_; }
  const std::string& GetDirectory() const { return directory_; }

 private:
  int level_;
  std::string directory_;
};
typedef boost::shared_ptr<CUnixFileNameFactory> CUnixFileNameFactoryPtr;
