#include "platform/multinode/UnixSplitCollectFiles.h"

#include <algorithm>
#include <memory>

#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"
#include "platform/multinode/AtomicFileWriter.h"
#include "platform/multinode/CollectFileEntry.h"
#include "platform/multinode/CollectFileReader.h"
#include "platform/multinode/FlatCollectFile.h"

using MultiNodeBackupOps::CAtomicFileWriter;
using MultiNodeBackupOps::CCollectFileEntry;

namespace {

typedef unsigned __int128 Weight;

Weight WeightOf(const CCollectFileEntry& entry) {
  return static_cast<Weight>(entry.size > 0 ? entry.size : 0) +
         CUnixSplitCollectFiles::kEntryOverheadBytes;
}

// Calls `visit` for every entry of the flat collect files, in order.
template <class Visit>
CQiError ForEachEntry(const std::vector<std::string>& inputs, Visit visit) {
  for (const auto& input : inputs) {
    CCollectFileReader reader;
    CQiError error = reader.Open(input, 0);
    if (error.IsError()) return error.Push(FXLOC);
    uint64_t lineNumber = 0;
    std::string line;
    while (!reader.IsEndOfFile()) {
      error = reader.GetNextLine(line);
      if (error.IsError()) return error.Push(FXLOC);
      ++lineNumber;
      if (line.empty()) continue;
      CCollectFileEntry entry;
      error = CCollectFileEntry::ParseFlatLine(line, entry);
      if (error.IsError()) {
        return FXErrorUtil::ErrorWin32(FXLOC, 13, "Line %llu of collect file %s: %s",
                                       static_cast<unsigned long long>(lineNumber), input.c_str(),
                                       error.GetMessage().c_str());
      }
      error = visit(entry);
      if (error.IsError()) return error.Push(FXLOC);
    }
  }
  return CQiError::Success();
}

}  // namespace

CUnixSplitCollectFiles::CUnixSplitCollectFiles(const CPostProcessingOptionsPtr& options,
                                               const CUnixFileNameFactoryPtr& names,
                                               const std::vector<COutputResources>& outputs,
                                               int expectedOutputs)
    : options_(options), names_(names), outputs_(outputs), expectedOutputs_(expectedOutputs) {}

CQiError CUnixSplitCollectFiles::SplitCollectFiles() {
  lastIndex_ = -1;
  if (!options_ || !names_) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Collect file split without options or names");
  }
  if (outputs_.empty() || static_cast<int>(outputs_.size()) != expectedOutputs_) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Expected %d collect file outputs, got %zu",
                                   expectedOutputs_, outputs_.size());
  }
  // The bound only shapes the split: a malformed setting is logged and the
  // options keep their bound.
  CQiError error = options_->LoadConfiguration();
  if (error.IsError()) {
    TQLOG(-1, "Failed to read the collect file split settings: %s", error.AsString(2).c_str());
  }

  std::vector<std::string> inputs;
  for (const auto& output : outputs_) {
    CFlatCollectFilePtr flat =
        getItemConsumerInstanceOf<CFlatCollectFile>(output.collectFileConsumer);
    if (!flat) {
      return FXErrorUtil::ErrorWin32(FXLOC, 87, "Output %d has no flat collect file",
                                     output.outputId);
    }
    error = flat->Close();
    if (error.IsError()) return error.Push(FXLOC);
    inputs.push_back(flat->GetPath());
  }

  // First pass: how many entries and how many bytes.
  uint64_t count = 0;
  Weight total = 0;
  error = ForEachEntry(inputs, [&](const CCollectFileEntry& entry) {
    ++count;
    total += WeightOf(entry);
    return CQiError::Success();
  });
  if (error.IsError()) return error.Push(FXLOC);

  const int requested = options_->GetCollectFileSplitCount();
  const uint64_t cap = options_->GetMaxEntriesPerCollectFile();
  uint64_t n = requested > 0 ? static_cast<uint64_t>(requested) : 1;
  if (cap > 0) n = std::max(n, (count + cap - 1) / cap);
  n = std::min(n, std::max<uint64_t>(count, 1));
  if (n > 0x7FFFFFFF) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Too many collect files: %llu",
                                   static_cast<unsigned long long>(n));
  }
  TQLOG(1, "Splitting %llu collect file entries into %llu files (requested %d)",
        static_cast<unsigned long long>(count), static_cast<unsigned long long>(n), requested);

  // Second pass: consecutive runs of entries, one file at a time.
  std::vector<std::unique_ptr<CAtomicFileWriter>> files;
  uint64_t remaining = count;  // entries not yet placed
  uint64_t seen = 0;
  uint64_t taken = 0;  // entries in the current file
  uint64_t lower = 0, upper = 0;
  Weight placed = 0;  // weight of the entries placed so far
  auto startFile = [&]() -> CQiError {
    const uint64_t k = files.size();
    const uint64_t filesLeft = n - k;  // this one included
    lower = 1;
    upper = remaining >= filesLeft ? remaining - (filesLeft - 1) : 1;
    if (cap > 0) {
      uint64_t mustTake = remaining > (filesLeft - 1) * cap ? remaining - (filesLeft - 1) * cap : 0;
      lower = std::max<uint64_t>(lower, mustTake);
      upper = std::min(upper, cap);
    }
    taken = 0;
    files.emplace_back(new CAtomicFileWriter());
    CQiError opened = files.back()->Open(names_->GetCollectFilePath(static_cast<int>(k + 1)));
    return opened.IsError() ? opened.Push(FXLOC) : opened;
  };
  error = startFile();
  if (error.IsError()) return error.Push(FXLOC);
  error = ForEachEntry(inputs, [&](const CCollectFileEntry& entry) -> CQiError {
    const Weight weight = WeightOf(entry);
    if (++seen > count) {
      return FXErrorUtil::ErrorWin32(FXLOC, 13, "Collect file inputs changed during the split");
    }
    if (taken > 0 && files.size() < n) {
      bool take;
      if (taken < lower) {
        take = true;
      } else if (taken >= upper) {
        take = false;
      } else {
        // Keep the entry when that ends the file nearer its share of the
        // bytes than stopping before it.
        const Weight target = total * files.size() / n;
        if (placed >= target) {
          take = false;
        } else if (placed + weight <= target) {
          take = true;
        } else {
          take = placed + weight - target < target - placed;
        }
      }
      if (!take) {
        CQiError closed = files.back()->Close();
        if (closed.IsError()) return closed.Push(FXLOC);
        closed = startFile();
        if (closed.IsError()) return closed.Push(FXLOC);
      }
    }
    CQiError written = files.back()->Write(entry.FormatNumberedLine() + "\n");
    if (written.IsError()) return written.Push(FXLOC);
    ++taken;
    --remaining;
    placed += weight;
    return CQiError::Success();
  });
  if (error.IsError()) return error.Push(FXLOC);
  error = files.back()->Close();
  if (error.IsError()) return error.Push(FXLOC);
  if (files.size() != n || seen != count) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Collect file inputs changed during the split");
  }

  // Every input is read and every file is complete: put them in place.
  for (auto& file : files) {
    error = file->Commit(false);
    if (error.IsError()) return error.Push(FXLOC);
  }
  CAtomicFileWriter::SyncDirectoryOf(files.front()->GetFinalPath());
  lastIndex_ = static_cast<int>(n) - 1;
  return CQiError::Success();
}
