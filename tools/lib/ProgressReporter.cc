#include "tools/lib/ProgressReporter.h"

#include <algorithm>
#include <cmath>

#include "tools/lib/CountingDataStream.h"

namespace TqHarness {

namespace {

// The phases whose streams move files: a backup's and a restore's data
// phase.
bool MovesData(const std::string& phase) { return phase == "backup" || phase == "restore"; }

}  // namespace

std::function<void(const TqRunner::RunnerEvent&)> CProgressReporter::Observer() {
  return [this](const TqRunner::RunnerEvent& event) { OnEvent(event); };
}

TqRunner::StreamFactory CProgressReporter::Wrap(TqRunner::StreamFactory inner) {
  return [this, inner](const std::string& client, int stream) -> OBJECTOPSAPI::IDataStreamPtr {
    OBJECTOPSAPI::IDataStreamPtr stream_ = inner(client, stream);
    if (!stream_) return stream_;
    return OBJECTOPSAPI::IDataStreamPtr(new CCountingDataStream(stream_, bytes_, files_));
  };
}

std::string CProgressReporter::FormatBytes(double bytes) {
  static const char* kUnits[] = {"B", "KB", "MB", "GB", "TB"};
  int unit = 0;
  while (bytes >= 1024 && unit < 4) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  if (unit == 0) {
    std::snprintf(text, sizeof text, "%.0f %s", bytes, kUnits[unit]);
  } else {
    std::snprintf(text, sizeof text, "%.1f %s", bytes, kUnits[unit]);
  }
  return text;
}

std::string CProgressReporter::FormatDuration(double seconds) {
  const long long s = static_cast<long long>(std::llround(seconds < 0 ? 0 : seconds));
  char text[48];
  if (s < 60) {
    std::snprintf(text, sizeof text, "%lld s", s);
  } else if (s < 3600) {
    std::snprintf(text, sizeof text, "%lld min %lld s", s / 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld h %lld min", s / 3600, (s % 3600) / 60);
  }
  return text;
}

std::string CProgressReporter::Line(uint64_t files, uint64_t bytes,
                                    const CCollectTotals::Totals& totals, double seconds) {
  const double rate = seconds > 0 ? static_cast<double>(bytes) / seconds : 0;
  std::string line;
  if (totals.complete) {
    line = std::to_string(files) + "/" + std::to_string(totals.files) + " files, " +
           FormatBytes(static_cast<double>(bytes)) + " of " +
           FormatBytes(static_cast<double>(totals.bytes));
  } else {
    // Some nodes have not listed what they back up yet: no total to count
    // against.
    line = std::to_string(files) + " files, " + FormatBytes(static_cast<double>(bytes));
  }
  line += ", " + FormatBytes(rate) + "/s";
  if (totals.complete && rate > 0 && totals.bytes >= bytes) {
    line += ", about " + FormatDuration(static_cast<double>(totals.bytes - bytes) / rate) + " left";
  }
  return line;
}

void CProgressReporter::PrintLineLocked() {
  if (phase_.empty() || !out_) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const CCollectTotals::Totals totals = totals_ ? totals_() : CCollectTotals::Totals();
  printedFiles_ = files_.load();
  printedBytes_ = bytes_.load();
  std::fprintf(out_, "  [%s] %s\n", phase_.c_str(),
               Line(printedFiles_, printedBytes_, totals, seconds).c_str());
  std::fflush(out_);
}

void CProgressReporter::Start(TotalsFn totals, std::chrono::milliseconds interval) {
  Stop();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    totals_ = std::move(totals);
    stopping_ = false;
  }
  try {
    ticker_ = std::thread(&CProgressReporter::Tick, this, interval);
  } catch (const std::system_error&) {
    // Without its thread the reporter still prints when tasks end.
  }
}

void CProgressReporter::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (ticker_.joinable()) ticker_.join();
}

void CProgressReporter::Tick(std::chrono::milliseconds interval) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_for(lock, interval, [this] { return stopping_; })) {
    // Between the phases that move items the line would only repeat; so
    // would a restore's while its nodes finish after the last file.
    if (!MovesData(phase_)) continue;
    if (phase_ == "restore" && files_.load() == printedFiles_ && bytes_.load() == printedBytes_) {
      continue;
    }
    PrintLineLocked();
  }
}

void CProgressReporter::OnEvent(const TqRunner::RunnerEvent& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  switch (event.kind) {
    case TqRunner::RunnerEvent::kPhase:
      if (out_) std::fprintf(out_, "  [%s] %s\n", event.phase.c_str(), event.text.c_str());
      phase_ = event.text == "start" ? event.phase : std::string();
      lastComplete_ = -1;
      break;
    case TqRunner::RunnerEvent::kNode:
      if (!event.text.empty() && out_) {
        std::fprintf(out_, "  [%s] %s: %s\n", event.phase.c_str(), event.clientName.c_str(),
                     event.text.c_str());
      }
      break;
    case TqRunner::RunnerEvent::kTask:
      // A line when a task ends, besides the timed ones.
      if (MovesData(event.phase) && event.tasksComplete != lastComplete_) {
        lastComplete_ = event.tasksComplete;
        PrintLineLocked();
      }
      break;
    case TqRunner::RunnerEvent::kProgress: {
      // Each stream reports its own totals so far; the job's are their sum.
      auto& stream = restoreStreams_[{event.clientName, event.streamNumber}];
      stream = {static_cast<uint64_t>(std::max<int64_t>(event.items, 0)),
                static_cast<uint64_t>(std::max<int64_t>(event.bytes, 0))};
      uint64_t files = 0, bytes = 0;
      for (const auto& entry : restoreStreams_) {
        files += entry.second.first;
        bytes += entry.second.second;
      }
      files_ = files;
      bytes_ = bytes;
      return;  // one event per item: no flush
    }
    default:
      break;
  }
  if (out_) std::fflush(out_);
}

}  // namespace TqHarness
