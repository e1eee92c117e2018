#include "removal/reboot_flag.h"

#include <atomic>

namespace {
std::atomic<bool> g_rebootRequired{false};
std::atomic<unsigned> g_deferred{0};
}

bool IsRebootRequired() { return g_rebootRequired.load(); }
void SetRebootRequired() {
    g_deferred.fetch_add(1);
    g_rebootRequired.store(true);
}
unsigned DeferredOperationCount() { return g_deferred.load(); }
void ClearRebootRequired() { g_rebootRequired.store(false); }
