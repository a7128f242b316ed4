#include "tools/lib/ProgressReporter.h"

#include "tools/lib/CountingDataStream.h"

namespace TqHarness {

std::function<void(const TqRunner::RunnerEvent&)> CProgressReporter::Observer() {
  return [this](const TqRunner::RunnerEvent& event) { OnEvent(event); };
}

TqRunner::StreamFactory CProgressReporter::Wrap(TqRunner::StreamFactory inner) {
  return [this, inner](const std::string& client, int stream) -> OBJECTOPSAPI::IDataStreamPtr {
    OBJECTOPSAPI::IDataStreamPtr stream_ = inner(client, stream);
    if (!stream_) return stream_;
    return OBJECTOPSAPI::IDataStreamPtr(new CCountingDataStream(stream_, bytes_, items_));
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

void CProgressReporter::OnEvent(const TqRunner::RunnerEvent& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  switch (event.kind) {
    case TqRunner::RunnerEvent::kPhase:
      std::fprintf(out_, "  [%s] %s\n", event.phase.c_str(), event.text.c_str());
      break;
    case TqRunner::RunnerEvent::kNode:
      if (!event.text.empty()) {
        std::fprintf(out_, "  [%s] %s: %s\n", event.phase.c_str(), event.clientName.c_str(),
                     event.text.c_str());
      }
      break;
    case TqRunner::RunnerEvent::kTask: {
      // A task's status changes several times; a line only when the count moves.
      if (event.phase == lastPhase_ && event.tasksComplete == lastComplete_ &&
          event.tasksTotal == lastTotal_) {
        break;
      }
      lastPhase_ = event.phase;
      lastComplete_ = event.tasksComplete;
      lastTotal_ = event.tasksTotal;
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
      const double bytes = static_cast<double>(bytes_.load());
      std::fprintf(out_, "  [%s] tasks %d/%d, %s in %llu items, %s/s\n", event.phase.c_str(),
                   event.tasksComplete, event.tasksTotal, FormatBytes(bytes).c_str(),
                   static_cast<unsigned long long>(items_.load()),
                   FormatBytes(seconds > 0 ? bytes / seconds : 0).c_str());
      break;
    }
    default:
      break;
  }
  std::fflush(out_);
}

}  // namespace TqHarness
