#include "platform/suite/TQJobCtrlClient.h"

namespace {
std::atomic<bool> g_processQuit{false};
}  // namespace

bool TQJobCtrlClient::checkQuitFlag() const { return g_processQuit || quit_; }

void TQJobCtrlClient::SetProcessQuitFlag(bool quit) { g_processQuit = quit; }

bool TQJobCtrlClient::GetProcessQuitFlag() { return g_processQuit; }
