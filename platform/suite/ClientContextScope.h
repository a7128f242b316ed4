#pragma once

#include "platform/suite/ClientContext.h"

// Sets the calling thread's client context while it lives and restores the
// previous one when destroyed.
class CClientContextScope {
 public:
  explicit CClientContextScope(SClientIdentity identity)
      : previous_(CClientContext::Exchange(
            std::make_shared<const SClientIdentity>(std::move(identity)))) {}
  explicit CClientContextScope(CClientContext::Ptr identity)
      : previous_(CClientContext::Exchange(std::move(identity))) {}
  ~CClientContextScope() { CClientContext::Exchange(std::move(previous_)); }
  CClientContextScope(const CClientContextScope&) = delete;
  CClientContextScope& operator=(const CClientContextScope&) = delete;

 private:
  CClientContext::Ptr previous_;
};
