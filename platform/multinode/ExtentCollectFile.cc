#include "platform/multinode/ExtentCollectFile.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/QiPath.h"
#include "platform/log/LogWriter.h"
#include "platform/multinode/AtomicFileWriter.h"
#include "platform/multinode/CollectFileEntry.h"
#include "platform/multinode/CollectFileReader.h"
#include "platform/suite/PlatformInfo.h"

namespace MultiNodeBackupOps {

namespace {

// Reads one value; `found` tells whether it was present and valid.
CQiError ReadValue(const char* name, int64_t& value, bool& found) {
  found = false;
  TQPlatformInfo registry;
  std::string text;
  if (!registry.getString(CExtentCollectFile::kRegistrySection, name, text)) {
    return CQiError::Success();
  }
  // Whole non-negative decimal numbers only: "12abc" or "-1" are not sizes.
  bool valid = !text.empty();
  for (char c : text) valid = valid && c >= '0' && c <= '9';
  int64_t number = -1;
  if (valid) {
    errno = 0;
    number = std::strtoll(text.c_str(), nullptr, 10);
    valid = errno != ERANGE;
  }
  if (!valid) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Invalid extent setting %s: %s", name, text.c_str());
  }
  value = number;
  found = true;
  return CQiError::Success();
}

}  // namespace

CExtentCollectFile::CExtentCollectFile(const CUnixFlatCollectFilePtr& flatFile, uint64_t extentSize,
                                       uint64_t largeFileThreshold, bool useExtents)
    : flatFile_(flatFile),
      extentSize_(extentSize),
      largeFileThreshold_(largeFileThreshold),
      useExtents_(useExtents) {}

CQiError CExtentCollectFile::Run() {
  if (!flatFile_) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No flat collect file for extents");
  if (!useExtents_) return CQiError::Success();
  if (extentSize_ == 0) return FXErrorUtil::ErrorWin32(FXLOC, 87, "Invalid extent size 0");
  const std::string& path = flatFile_->GetPath();
  CQiError error = flatFile_->Close();
  if (error.IsError()) return error.Push(FXLOC);

  CCollectFileReader reader;
  error = reader.Open(path, 0);
  if (error.IsError()) return error.Push(FXLOC);
  CAtomicFileWriter writer;
  error = writer.Open(path);
  if (error.IsError()) return error.Push(FXLOC);
  uint64_t files = 0, extents = 0;
  std::string line;
  while (!reader.IsEndOfFile()) {
    error = reader.GetNextLine(line);
    if (error.IsError()) return error.Push(FXLOC);
    if (line.empty()) continue;
    CCollectFileEntry entry;
    error = CCollectFileEntry::ParseFlatLine(line, entry);
    if (error.IsError()) return error.Push(FXLOC);
    const bool large = !entry.isExtent && entry.size > 0 &&
                       static_cast<uint64_t>(entry.size) > largeFileThreshold_ &&
                       CQiPath::IsFile(entry.path.c_str());
    if (!large) {
      error = writer.Write(entry.FormatFlatLine() + "\n\n");
      if (error.IsError()) return error.Push(FXLOC);
      continue;
    }
    ++files;
    const uint64_t size = static_cast<uint64_t>(entry.size);
    CCollectFileEntry extent;
    extent.path = entry.path;
    extent.isExtent = true;
    extent.fileSize = size;
    for (uint64_t offset = 0; offset < size; offset += extentSize_) {
      extent.extentOffset = offset;
      extent.extentLength = size - offset < extentSize_ ? size - offset : extentSize_;
      extent.size = static_cast<int64_t>(extent.extentLength);
      error = writer.Write(extent.FormatFlatLine() + "\n\n");
      if (error.IsError()) return error.Push(FXLOC);
      ++extents;
      if (size - offset <= extentSize_) break;
    }
  }
  error = writer.Commit();
  if (error.IsError()) return error.Push(FXLOC);
  TQLOG(1, "Listed %llu large files as %llu extents in %s", static_cast<unsigned long long>(files),
        static_cast<unsigned long long>(extents), path.c_str());
  return CQiError::Success();
}

CQiError CExtentCollectFile::ParseCollectFileEntry(const std::string& line, std::string& path,
                                                   uint64_t&,
                                                   OBJECTOPSAPI::ExtentBackupParams& params) const {
  CCollectFileEntry entry;
  CQiError error = CCollectFileEntry::ParseNumberedLine(line, entry);
  if (error.IsError()) return error.Push(FXLOC);
  path = entry.path;
  params.isExtent = entry.isExtent;
  params.offset = entry.isExtent ? entry.extentOffset : 0;
  params.length = entry.isExtent ? entry.extentLength : 0;
  params.isLastExtent =
      !entry.isExtent || entry.extentOffset + entry.extentLength == entry.fileSize;
  return CQiError::Success();
}

CQiError CExtentCollectFile::ReadExtentConfigFromRegistry(bool& extentBackup, uint64_t& extentSize,
                                                          uint64_t& largeFileThreshold) {
  extentBackup = false;
  extentSize = kDefaultExtentSize;
  largeFileThreshold = kDefaultLargeFileThreshold;

  CQiError first;
  bool found = false;
  int64_t value = 0;
  CQiError error = ReadValue(kEnableValue, value, found);
  if (error.IsError() && !first.IsError()) first = error;
  if (found) extentBackup = value != 0;
  error = ReadValue(kExtentSizeValue, value, found);
  if (error.IsError() && !first.IsError()) first = error;
  if (found) extentSize = static_cast<uint64_t>(value);
  error = ReadValue(kThresholdValue, value, found);
  if (error.IsError() && !first.IsError()) first = error;
  if (found) largeFileThreshold = static_cast<uint64_t>(value);
  if (first.IsError()) return first.Push(FXLOC);
  return CQiError::Success();
}

}  // namespace MultiNodeBackupOps
