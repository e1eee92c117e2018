#include "removal/reboot_flag.h"

#include <atomic>

namespace {
std::atomic<bool> g_rebootRequired{false};
}

bool IsRebootRequired() { return g_rebootRequired.load(); }
void SetRebootRequired() { g_rebootRequired.store(true); }
void ClearRebootRequired() { g_rebootRequired.store(false); }
