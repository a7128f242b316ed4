#pragma once

// Data streams that fail chosen items partway, wrapped around the streams a
// job would use otherwise.

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "JobChecks.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/FrameworkTypes.h"
#include "platform/objectops/DataStream.h"
#include "platform/runner/RunnerTypes.h"

namespace e2e {

// Which items fail, shared by every stream of a job.
class StreamFaults {
 public:
  // The item read from `sourcePath` fails on its next `times` attempts
  // (-1: on every attempt).
  void FailItem(const std::string& sourcePath, int times) {
    std::lock_guard<std::mutex> lock(mutex_);
    plan_[sourcePath] = times;
  }
  // Called, on the failing stream's thread, at every failure it makes.
  void OnFailure(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = std::move(hook);
  }
  // Whether this attempt at the item fails; counts the attempt.
  bool TakeFailure(const std::string& sourcePath, const std::string& client, int stream) {
    std::function<void()> hook;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = plan_.find(sourcePath);
      if (it == plan_.end() || it->second == 0) return false;
      if (it->second > 0) --it->second;
      failed_.push_back({sourcePath, client, stream});
      hook = hook_;
    }
    if (hook) hook();
    return true;
  }

  struct Failure {
    std::string sourcePath;
    std::string client;
    int stream = 0;
  };
  std::vector<Failure> Failures() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::string, int> plan_;
  std::function<void()> hook_;
  std::vector<Failure> failed_;
};

// Passes every call on to another stream; an item that StreamFaults fails
// gets the first half of its first extent through, then a write error.
class CFaultyDataStream : public OBJECTOPSAPI::IDataStream {
 public:
  CFaultyDataStream(OBJECTOPSAPI::IDataStreamPtr inner, std::shared_ptr<StreamFaults> faults,
                    std::string client, int stream)
      : inner_(std::move(inner)),
        faults_(std::move(faults)),
        client_(std::move(client)),
        stream_(stream) {}

  CQiError BeginItem(const OBJECTOPSAPI::StreamItemHeader& header) override {
    failing_ = !header.isDirectory && faults_->TakeFailure(header.sourcePath, client_, stream_);
    return inner_->BeginItem(header);
  }
  CQiError WriteExtent(uint64_t offset, const void* data, size_t length) override {
    if (!failing_) return inner_->WriteExtent(offset, data, length);
    if (length > 1) {
      CQiError error = inner_->WriteExtent(offset, data, length / 2);
      if (error.IsError()) return error;
    }
    return FXErrorUtil::ErrorWin32(FXLOC, 29, "Simulated write failure at offset %llu",
                                   static_cast<unsigned long long>(offset + length / 2));
  }
  CQiError CommitItem() override {
    if (failing_) {
      return FXErrorUtil::ErrorWin32(FXLOC, 29, "Simulated failure of an item with no content");
    }
    return inner_->CommitItem();
  }
  void AbortItem() override {
    failing_ = false;
    inner_->AbortItem();
  }
  CQiError Flush() override { return inner_->Flush(); }
  uint64_t PendingItems() const override { return inner_->PendingItems(); }

 private:
  OBJECTOPSAPI::IDataStreamPtr inner_;
  std::shared_ptr<StreamFaults> faults_;
  std::string client_;
  int stream_;
  bool failing_ = false;
};

// Streams of `inner` that fail what `faults` says.
inline TqRunner::StreamFactory FaultyStreams(TqRunner::StreamFactory inner,
                                             std::shared_ptr<StreamFaults> faults) {
  return [inner, faults](const std::string& client, int stream) {
    return OBJECTOPSAPI::IDataStreamPtr(
        new CFaultyDataStream(inner(client, stream), faults, client, stream));
  };
}

// Fed from a job's observer: when the first task starts running, chooses a
// regular file in the middle of that task's collect file, with entries
// before it, and has it fail `times` times (-1: always).
class MidFileFault {
 public:
  // `collectFile` names the collect file of a task of a client.
  MidFileFault(std::shared_ptr<StreamFaults> faults,
               std::function<std::string(const std::string&, int)> collectFile, int times)
      : faults_(std::move(faults)), collectFile_(std::move(collectFile)), times_(times) {}

  void See(const TqRunner::RunnerEvent& event) {
    if (event.kind != TqRunner::RunnerEvent::kTask ||
        event.status != DistributedQEL::TASK_RUNNING) {
      return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (task_ >= 0) return;
    std::vector<CollectLine> lines = ReadCollectFile(collectFile_(event.clientName, event.taskId));
    std::vector<size_t> files;
    for (size_t i = 1; i < lines.size(); ++i) {
      std::error_code ec;
      if (std::filesystem::is_regular_file(lines[i].path, ec)) files.push_back(i);
    }
    if (files.empty()) return;
    task_ = event.taskId;
    client_ = event.clientName;
    lines_ = lines;
    target_ = files[files.size() / 2];
    faults_->FailItem(lines_[target_].path, times_);
  }

  // The chosen task (-1 before one was chosen), its client, its collect
  // file's lines and the index of the failing one.
  int Task() const { return task_; }
  const std::string& Client() const { return client_; }
  const std::vector<CollectLine>& Lines() const { return lines_; }
  size_t Target() const { return target_; }
  const CollectLine& TargetLine() const { return lines_.at(target_); }

 private:
  std::mutex mutex_;
  std::shared_ptr<StreamFaults> faults_;
  std::function<std::string(const std::string&, int)> collectFile_;
  int times_;
  int task_ = -1;
  std::string client_;
  std::vector<CollectLine> lines_;
  size_t target_ = 0;
};

}  // namespace e2e
