#include "platform/objectops/BackupFilePrivate.h"

#include <algorithm>
#include <memory>
#include <new>

#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"

namespace OBJECTOPSAPI {

namespace {

constexpr uint64_t kMinTransfer = 64 * 1024;
constexpr uint64_t kMaxTransfer = 8 * 1024 * 1024;

}  // namespace

BackupFilePrivate::BackupFilePrivate(const std::string& filePath, const std::string& headerPath,
                                     uint64_t flags, const ExtentBackupParams& extent)
    : m_filePath(filePath),
      m_headerPath(headerPath),
      m_itemFlags(flags),
      m_flags(0),
      m_extent(extent) {}

BackupFilePrivate::~BackupFilePrivate() = default;

CQiError BackupFilePrivate::fillMetaDataList() {
  m_metaDataList.clear();
  return CQiError::Success();
}

CQiError BackupFilePrivate::populateHeader(StreamItemHeader& header) {
  header = StreamItemHeader();
  header.headerPath = m_headerPath;
  header.sourcePath = m_filePath;
  header.itemFlags = m_itemFlags;
  header.objectFlags = m_flags;
  header.isDirectory = m_isDirectory;
  header.fileSize = m_objectSize;
  header.modifyTime = m_modifyTime;
  header.mode = m_mode;
  header.metadata = m_metaDataList;
  CQiError error = Piece(header.pieceOffset, header.pieceLength);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError BackupFilePrivate::formatExtentFilePath(std::string&) { return CQiError::Success(); }

CQiError BackupFilePrivate::sendMetaData(IDataStream* stream, const StreamItemHeader& header) {
  CQiError error = stream->BeginItem(header);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError BackupFilePrivate::initializeWithRegistry() { return CQiError::Success(); }

CQiError BackupFilePrivate::sendOptionalHeaders(IDataStream*) { return CQiError::Success(); }

CQiError BackupFilePrivate::Piece(uint64_t& offset, uint64_t& length) const {
  offset = 0;
  length = 0;
  if (m_isDirectory) {
    if (m_extent.isExtent) {
      return FXErrorUtil::ErrorWin32(FXLOC, 87, "Extent item of directory %s", m_filePath.c_str());
    }
    return CQiError::Success();
  }
  if (!m_extent.isExtent) {
    length = m_objectSize;
    return CQiError::Success();
  }
  uint64_t end = m_extent.length ? m_extent.offset + m_extent.length : m_objectSize;
  if (m_extent.offset > m_objectSize || (end > m_objectSize && m_extent.failOnChange)) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 13, "Extent [%llu, %llu) lies beyond the end of %s (%llu bytes)",
        static_cast<unsigned long long>(m_extent.offset), static_cast<unsigned long long>(end),
        m_filePath.c_str(), static_cast<unsigned long long>(m_objectSize));
  }
  offset = m_extent.offset;
  length = std::min(end, m_objectSize) - offset;
  return CQiError::Success();
}

CQiError BackupFilePrivate::SendContent(IDataStream* stream, const AbortCheck& abort,
                                        uint64_t offset, uint64_t length) {
  uint64_t unit = std::clamp<uint64_t>(
      m_extent.extentSize ? m_extent.extentSize : ExtentBackupParams::kDefaultExtentSize,
      kMinTransfer, kMaxTransfer);
  // One buffer per thread, which is one per stream: it is allocated (not
  // zero-filled) once at the largest size the stream has needed and reused
  // for every later file, instead of up to 8 MiB made and cleared per file.
  thread_local std::unique_ptr<char[]> t_buffer;
  thread_local size_t t_capacity = 0;
  const size_t size = static_cast<size_t>(std::min<uint64_t>(unit, std::max<uint64_t>(length, 1)));
  if (t_capacity < size) {
    t_buffer.reset();
    t_buffer.reset(new (std::nothrow) char[size]);
    t_capacity = t_buffer ? size : 0;
    if (!t_buffer) {
      return FXErrorUtil::ErrorWin32(FXLOC, 8, "No memory for a %zu byte transfer buffer", size);
    }
  }
  char* const buffer = t_buffer.get();
  uint64_t done = 0;
  while (done < length) {
    if (abort && abort()) {
      return FXErrorUtil::ErrorWin32(FXLOC, 1223, "The backup of %s was stopped",
                                     m_filePath.c_str());
    }
    size_t want = static_cast<size_t>(std::min<uint64_t>(size, length - done));
    size_t filled = 0;
    while (filled < want) {
      size_t got = 0;
      CQiError error = ReadContent(offset + done + filled, buffer + filled, want - filled, got);
      if (error.IsError()) return error.Push(FXLOC);
      if (got == 0) {
        return FXErrorUtil::ErrorWin32(FXLOC, 13, "File %s shrank while it was read",
                                       m_filePath.c_str());
      }
      filled += got;
    }
    CQiError error = stream->WriteExtent(offset + done, buffer, filled);
    if (error.IsError()) return error.Push(FXLOC);
    done += filled;
  }
  if (m_extent.failOnChange) {
    uint64_t now = 0;
    CQiError error = CurrentSize(now);
    if (error.IsError()) return error.Push(FXLOC);
    if (now != m_objectSize) {
      return FXErrorUtil::ErrorWin32(
          FXLOC, 13, "File %s changed size while it was read (%llu, now %llu)", m_filePath.c_str(),
          static_cast<unsigned long long>(m_objectSize), static_cast<unsigned long long>(now));
    }
  }
  return CQiError::Success();
}

CQiError BackupFilePrivate::backup(IDataStream* stream, const AbortCheck& abort) {
  if (!stream)
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "No data stream for %s", m_filePath.c_str());
  CQiError error = initializeWithRegistry();
  if (error.IsError()) return error.Push(FXLOC);
  error = OpenObject();
  if (error.IsError()) return error.Push(FXLOC);

  StreamItemHeader header;
  error = fillMetaDataList();
  if (!error.IsError()) error = populateHeader(header);
  if (!error.IsError() && m_extent.isExtent) error = formatExtentFilePath(header.headerPath);
  if (!error.IsError()) error = sendMetaData(stream, header);
  if (error.IsError()) {
    CloseObject();
    return error.Push(FXLOC);
  }
  error = sendOptionalHeaders(stream);
  if (!error.IsError()) error = SendContent(stream, abort, header.pieceOffset, header.pieceLength);
  if (!error.IsError()) error = stream->CommitItem();
  CloseObject();
  if (error.IsError()) {
    stream->AbortItem();
    TQLOG(1, "Backup of %s as %s failed: %s", m_filePath.c_str(), header.headerPath.c_str(),
          error.AsString(2).c_str());
    return error.Push(FXLOC);
  }
  return CQiError::Success();
}

}  // namespace OBJECTOPSAPI
