#include "platform/runner/ThreadStart.h"

#include <cerrno>
#include <mutex>
#include <system_error>

namespace TqRunner {

namespace {

std::mutex g_mutex;
CThreadStart::Hook g_hook;

}  // namespace

std::thread CThreadStart::Start(const std::string& what, std::function<void()> body) {
  Hook hook;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    hook = g_hook;
  }
  if (hook && !hook(what)) {
    throw std::system_error(EAGAIN, std::generic_category(), "Resource temporarily unavailable");
  }
  return std::thread(std::move(body));
}

void CThreadStart::SetHook(Hook hook) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_hook = std::move(hook);
}

}  // namespace TqRunner
