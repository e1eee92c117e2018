// One thread that runs a function to its end. The owner joins it, explicitly
// or by going away. Windows builds use Win32 threads (the program's C++
// runtime has no std::thread there); other builds use std::thread.
#pragma once

#include <functional>
#include <memory>

class CWorkerThread {
public:
    CWorkerThread();
    ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // Starts `body` on a new thread; false when a thread is already running
    // or none could be created.
    bool Start(std::function<void()> body);
    // Waits for the thread to end; nothing when none was started.
    void Join();
    bool Joinable() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};
