#pragma once

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// The process-wide log writer. A statement is written only when the writer's
// current level is at least the statement's level. Levels: -1 errors,
// 0 milestones, 1 to 4 increasing detail (2 inputs, outputs and message
// dumps), 6 the finest.
class CLogWriter {
 public:
  struct Line {
    int level;
    std::string function;
    int line;
    std::string text;
  };
  using Sink = std::function<void(const Line&)>;

  CLogWriter();
  ~CLogWriter();

  int GetLevel() const { return level_; }
  void SetLevel(int level) { level_ = level; }

  // Appends to this file from now on ("" closes the file).
  bool SetLogFile(const std::string& path);
  std::string GetLogFile() const;

  void Log(int level, const char* function, int line, const char* format, ...)
      __attribute__((format(printf, 5, 6)));

  // Extra receivers of every written line (tests capture lines with these).
  int AddSink(Sink sink);
  void RemoveSink(int id);

 private:
  int level_;
  mutable std::mutex mutex_;
  FILE* file_ = nullptr;
  std::string path_;
  std::vector<std::pair<int, Sink>> sinks_;
  int nextSink_ = 1;
};

extern CLogWriter* g_ptrLogWriter;

#define TQLOG(level, ...)                                                         \
  do {                                                                            \
    if (g_ptrLogWriter && g_ptrLogWriter->GetLevel() >= (level))                  \
      g_ptrLogWriter->Log((level), __PRETTY_FUNCTION__, __LINE__, __VA_ARGS__);   \
  } while (0)

// Traces entry and exit of a function at level 2.
class TQDebugFunction {
 public:
  TQDebugFunction(const char* function, int line);
  ~TQDebugFunction();

 private:
  const char* function_;
  int line_;
};

#define TQ_DEBUG_FUNCTION() TQDebugFunction tqDebugFunction_(__PRETTY_FUNCTION__, __LINE__)

// Collects the lines written while it lives (for tests).
class CLogCapture {
 public:
  CLogCapture();
  ~CLogCapture();
  std::vector<CLogWriter::Line> Lines() const;
  // Lines of exactly this level.
  std::vector<std::string> Texts(int level) const;
  // True when any line's text contains `part`.
  bool Contains(const std::string& part) const;

 private:
  int id_;
  int oldLevel_;
  mutable std::mutex mutex_;
  std::vector<CLogWriter::Line> lines_;
};
