#include "common/worker_thread.h"

#include <system_error>
#include <thread>

struct CWorkerThread::State {
    std::thread thread;
};

CWorkerThread::CWorkerThread() : state_(std::make_unique<State>()) {}
CWorkerThread::~CWorkerThread() { Join(); }

bool CWorkerThread::Start(std::function<void()> body) {
    if (state_->thread.joinable()) return false;
    try {
        state_->thread = std::thread(std::move(body));
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CWorkerThread::Join() {
    if (state_->thread.joinable()) state_->thread.join();
}

bool CWorkerThread::Joinable() const { return state_->thread.joinable(); }
