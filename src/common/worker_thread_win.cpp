#include "common/worker_thread.h"

#include <windows.h>

#include "common/handles_win.h"

struct CWorkerThread::State {
    UniqueHandle thread;
};

namespace {

DWORD WINAPI ThreadMain(void* parameter) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(parameter));
    (*body)();
    return 0;
}

}  // namespace

CWorkerThread::CWorkerThread() : state_(std::make_unique<State>()) {}
CWorkerThread::~CWorkerThread() { Join(); }

bool CWorkerThread::Start(std::function<void()> body) {
    if (state_->thread) return false;
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    // The thread id out-parameter is required on Windows 9x/ME.
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, ThreadMain, owned.get(), 0, &id);
    if (thread == nullptr) return false;
    owned.release();  // the thread frees it
    state_->thread.reset(thread);
    return true;
}

void CWorkerThread::Join() {
    if (!state_->thread) return;
    WaitForSingleObject(state_->thread.get(), INFINITE);
    state_->thread.reset();
}

bool CWorkerThread::Joinable() const { return static_cast<bool>(state_->thread); }
