#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/objectops/DataStream.h"
#include "platform/objectops/ExtentBackupParams.h"

namespace OBJECTOPSAPI {

// The working part of a BackupFile: opens the object, gathers its metadata
// list and header, and sends header and content into a data stream. Derived
// parts add metadata (fillMetaDataList) or read other kinds of objects.
//
// backup() runs, in order: initializeWithRegistry, OpenObject,
// fillMetaDataList, populateHeader, formatExtentFilePath (extent items only,
// on the header path), sendMetaData (starts the item in the stream),
// sendOptionalHeaders, the content in units of the extent size, and the
// stream's commit. Any failure after the item started aborts it in the
// stream, so the stream never keeps a partial item.
class BackupFilePrivate {
 public:
  using MetaDataInfo = OBJECTOPSAPI::MetaDataInfo;

  BackupFilePrivate(const std::string& filePath, const std::string& headerPath, uint64_t flags,
                    const ExtentBackupParams& extent);
  virtual ~BackupFilePrivate();
  BackupFilePrivate(const BackupFilePrivate&) = delete;
  BackupFilePrivate& operator=(const BackupFilePrivate&) = delete;

  // Opens the object and learns its kind, size, mode and time.
  virtual CQiError OpenObject() = 0;
  virtual CQiError backup(IDataStream* stream, const AbortCheck& abort);
  // Fills the metadata list; the base clears it.
  virtual CQiError fillMetaDataList();
  // The stream header of the item from what OpenObject learnt.
  virtual CQiError populateHeader(StreamItemHeader& header);
  // The header path of an extent item; the base leaves it unchanged.
  virtual CQiError formatExtentFilePath(std::string& path);
  // Starts the item in the stream with its header and metadata list.
  virtual CQiError sendMetaData(IDataStream* stream, const StreamItemHeader& header);
  // Settings from the registry; the base has none.
  virtual CQiError initializeWithRegistry();
  // Headers beyond the item header; the base sends none.
  virtual CQiError sendOptionalHeaders(IDataStream* stream);

  const std::string& getFilePath() const { return m_filePath; }
  const std::string& getHeaderPath() const { return m_headerPath; }
  uint64_t getItemFlags() const { return m_itemFlags; }
  uint32_t getFlags() const { return m_flags; }
  void setFlags(uint32_t flags) { m_flags = flags; }
  std::vector<MetaDataInfo>& getMetaDataList() { return m_metaDataList; }
  const ExtentBackupParams& getExtentParams() const { return m_extent; }

 protected:
  // Reads up to `length` bytes at `offset` of the open object; `got` 0 means
  // the end of the object.
  virtual CQiError ReadContent(uint64_t offset, void* buffer, size_t length, size_t& got) = 0;
  // The object's size now (after reading), to notice a file that changed.
  virtual CQiError CurrentSize(uint64_t& size) = 0;
  virtual void CloseObject() = 0;

  std::string m_filePath;
  std::string m_headerPath;
  uint64_t m_itemFlags;  // the item's flags as the caller gave them
  uint32_t m_flags;      // the object's flags word
  ExtentBackupParams m_extent;
  std::vector<MetaDataInfo> m_metaDataList;

  // Learnt by OpenObject.
  bool m_isDirectory = false;
  uint64_t m_objectSize = 0;
  int64_t m_modifyTime = 0;
  uint32_t m_mode = 0;

 private:
  CQiError Piece(uint64_t& offset, uint64_t& length) const;
  CQiError SendContent(IDataStream* stream, const AbortCheck& abort, uint64_t offset,
                       uint64_t length);
};

}  // namespace OBJECTOPSAPI
