// Owners of Win32 handles.
#pragma once

#include <windows.h>

// A kernel handle closed when its owner goes away; null and
// INVALID_HANDLE_VALUE both mean none.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) { reset(h); }
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    HANDLE release() {
        HANDLE h = handle_;
        handle_ = nullptr;
        return h;
    }
    void reset(HANDLE h = nullptr) {
        if (handle_ != nullptr) CloseHandle(handle_);
        handle_ = h == INVALID_HANDLE_VALUE ? nullptr : h;
    }

private:
    HANDLE handle_ = nullptr;
};

// A registry key closed when its owner goes away.
class UniqueKey {
public:
    UniqueKey() = default;
    explicit UniqueKey(HKEY k) : key_(k) {}
    ~UniqueKey() { reset(); }
    UniqueKey(const UniqueKey&) = delete;
    UniqueKey& operator=(const UniqueKey&) = delete;
    HKEY get() const { return key_; }
    HKEY* put() {
        reset();
        return &key_;
    }
    explicit operator bool() const { return key_ != nullptr; }
    void reset() {
        if (key_ != nullptr) RegCloseKey(key_);
        key_ = nullptr;
    }

private:
    HKEY key_ = nullptr;
};
