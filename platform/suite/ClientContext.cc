#include "platform/suite/ClientContext.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "platform/base/FXPath.h"
#include "platform/base/QiDirectory.h"
#include "platform/log/EventJournal.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/PlatformInfo.h"

namespace {

thread_local CClientContext::Ptr t_context;

std::mutex& HomeMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string& HomeOverride() {
  static std::string home;
  return home;
}

std::string RealHostName() {
  char name[256] = {0};
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

std::string DefaultClientName() {
  if (const char* name = std::getenv("TQ_CLIENT_NAME"); name && *name) return name;
  std::string host = RealHostName();
  return host.substr(0, host.find('.'));
}

std::string SafeComponent(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return "_";
  std::string out = name;
  for (char& c : out)
    if (c == '/') c = '_';
  return out;
}

// Every thread's journal entries carry its client's name.
struct JournalWiring {
  JournalWiring() {
    CEventJournal::SetClientProvider([] {
      CClientContext::Ptr context = CClientContext::Current();
      return context ? context->clientName : std::string();
    });
  }
} g_journalWiring;

}  // namespace

CClientContext::Ptr CClientContext::Current() { return t_context; }

CClientContext::Ptr CClientContext::Exchange(Ptr identity) {
  Ptr previous = std::move(t_context);
  t_context = std::move(identity);
  return previous;
}

std::string CClientContext::ClientName() {
  Ptr context = Current();
  return context ? context->clientName : DefaultClientName();
}

uint64_t CClientContext::ClientId() {
  if (Ptr context = Current()) return context->clientId;
  const char* id = std::getenv("TQ_CLIENT_ID");
  return id ? std::strtoull(id, nullptr, 10) : 0;
}

std::string CClientContext::HostName() {
  Ptr context = Current();
  return context && !context->hostName.empty() ? context->hostName : RealHostName();
}

std::string CClientContext::BaseDirectory() {
  Ptr context = Current();
  if (context && !context->baseDirectory.empty()) return context->baseDirectory;
  std::string base;
  TQPlatformInfo().getString("Base", "dBASEHOME", base);
  return base;
}

std::string CClientContext::SuiteHome() {
  {
    std::lock_guard<std::mutex> lock(HomeMutex());
    if (!HomeOverride().empty()) return HomeOverride();
  }
  if (const char* home = std::getenv("TQ_SUITE_HOME"); home && *home) return home;
  return "/tmp/tqsuite-" + std::to_string(static_cast<unsigned long>(getuid()));
}

void CClientContext::SetSuiteHome(const std::string& path) {
  std::lock_guard<std::mutex> lock(HomeMutex());
  HomeOverride() = path;
}

std::string CClientContext::JobResultsDirectory(const std::string& clientName) {
  Ptr context = Current();
  std::string directory;
  if (context && context->clientName == clientName && !context->jobResultsDirectory.empty()) {
    directory = context->jobResultsDirectory;
  } else {
    directory = FXPath::Join(FXPath::Join(SuiteHome(), SafeComponent(clientName)), "JobResults");
  }
  CQiError error = CQiDirectory::Create(directory.c_str(), true);
  if (error.IsError())
    TQLOG(-1, "Failed to create the job results directory %s: %s", directory.c_str(),
          error.AsString(2).c_str());
  return directory;
}
