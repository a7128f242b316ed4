#include "platform/log/LogWriter.h"

#include <sys/time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <ctime>

#include "platform/base/FXString.h"

namespace {

CLogWriter& Instance() {
  static CLogWriter writer;
  return writer;
}

}  // namespace

CLogWriter* g_ptrLogWriter = &Instance();

CLogWriter::CLogWriter() : level_(2) {
  if (const char* level = std::getenv("TQ_LOG_LEVEL")) level_ = std::atoi(level);
  if (const char* path = std::getenv("TQ_LOG_FILE")) SetLogFile(path);
}

CLogWriter::~CLogWriter() {
  if (file_) std::fclose(file_);
}

bool CLogWriter::SetLogFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_) std::fclose(file_);
  file_ = nullptr;
  path_.clear();
  if (path.empty()) return true;
  // Close-on-exec ("e"): commands and programs this process starts do not
  // inherit the log file.
  file_ = std::fopen(path.c_str(), "ae");
  if (!file_) return false;
  path_ = path;
  return true;
}

std::string CLogWriter::GetLogFile() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return path_;
}

void CLogWriter::Log(int level, const char* function, int line, const char* format, ...) {
  if (level_ < level) return;
  va_list args;
  va_start(args, format);
  std::string text = FXString::FormatV(format, args);
  va_end(args);

  Line entry{level, function ? function : "", line, std::move(text)};
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_) {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tm;
    localtime_r(&tv.tv_sec, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%m/%d %H:%M:%S", &tm);
    std::fprintf(file_, "%d %lx %s %d %s:%d %s\n", static_cast<int>(getpid()),
                 static_cast<unsigned long>(pthread_self()), stamp, level, entry.function.c_str(),
                 line, entry.text.c_str());
    std::fflush(file_);
  }
  for (auto& sink : sinks_) sink.second(entry);
}

int CLogWriter::AddSink(Sink sink) {
  std::lock_guard<std::mutex> lock(mutex_);
  int id = nextSink_++;
  sinks_.emplace_back(id, std::move(sink));
  return id;
}

void CLogWriter::RemoveSink(int id) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
    if (it->first == id) {
      sinks_.erase(it);
      return;
    }
  }
}

TQDebugFunction::TQDebugFunction(const char* function, int line)
    : function_(function), line_(line) {
  if (g_ptrLogWriter && g_ptrLogWriter->GetLevel() >= 2)
    g_ptrLogWriter->Log(2, function_, line_, "Entering");
}

TQDebugFunction::~TQDebugFunction() {
  if (g_ptrLogWriter && g_ptrLogWriter->GetLevel() >= 2)
    g_ptrLogWriter->Log(2, function_, line_, "Leaving");
}

CLogCapture::CLogCapture() : oldLevel_(g_ptrLogWriter->GetLevel()) {
  g_ptrLogWriter->SetLevel(6);
  id_ = g_ptrLogWriter->AddSink([this](const CLogWriter::Line& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  });
}

CLogCapture::~CLogCapture() {
  g_ptrLogWriter->RemoveSink(id_);
  g_ptrLogWriter->SetLevel(oldLevel_);
}

std::vector<CLogWriter::Line> CLogCapture::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

std::vector<std::string> CLogCapture::Texts(int level) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  for (const auto& l : lines_)
    if (l.level == level) out.push_back(l.text);
  return out;
}

bool CLogCapture::Contains(const std::string& part) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& l : lines_)
    if (l.text.find(part) != std::string::npos) return true;
  return false;
}
