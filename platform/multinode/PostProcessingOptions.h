#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>

#include "platform/base/QiError.h"

// Settings of the split of a flat collect file into numbered collect files.
class CPostProcessingOptions {
 public:
  // Registry value that bounds the entries of one numbered collect file
  // (0 or absent: no bound). When the entries do not fit into the requested
  // number of files under that bound, the split makes more files.
  static constexpr const char* kRegistrySection = "FileSystemAgent";
  static constexpr const char* kMaxEntriesValue = "nMaxCollectFileEntries";

  CPostProcessingOptions() = default;
  virtual ~CPostProcessingOptions() = default;

  // Reads the bound from the registry; an absent value keeps the current one,
  // a value that is not a whole non-negative number is error 13.
  virtual CQiError LoadConfiguration();
  // How many numbered collect files the split aims at; the base asks for one
  // per configured stream.
  virtual int GetCollectFileSplitCount() { return getNumberOfStreamsConfigured(); }
  virtual int getNumberOfStreamsConfigured() { return numberOfStreams_; }

  void setNumberOfStreamsConfigured(int count) { numberOfStreams_ = count; }
  uint64_t GetMaxEntriesPerCollectFile() const { return maxEntries_; }
  void SetMaxEntriesPerCollectFile(uint64_t count) { maxEntries_ = count; }

 private:
  int numberOfStreams_ = 1;
  uint64_t maxEntries_ = 0;
};
typedef boost::shared_ptr<CPostProcessingOptions> CPostProcessingOptionsPtr;
