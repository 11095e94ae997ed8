// Owners of the system's handles: each closes its handle once, on every path, when it goes out of scope.
// None can be copied; each can hand its handle to a call that fills it.
#pragma once
#include <windows.h>

#include <objbase.h>

// A kernel handle (file, mutex, process): CloseHandle. Null and INVALID_HANDLE_VALUE both mean "none".
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    ~UniqueHandle()
    {
        if (IsValid())
            CloseHandle(handle_);
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    HANDLE Get() const { return handle_; }
    bool IsValid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    // Hands the handle over; the owner holds none afterwards.
    HANDLE Release()
    {
        HANDLE h = handle_;
        handle_ = nullptr;
        return h;
    }
    // Closes the handle held, if any, and takes this one.
    void Reset(HANDLE handle)
    {
        if (IsValid())
            CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_ = nullptr;
};

// An open registry key: RegCloseKey.
class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey()
    {
        if (key_)
            RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY Get() const { return key_; }
    HKEY* Receive() { return &key_; }  // for RegOpenKeyExW and the like, on an empty owner

private:
    HKEY key_ = nullptr;
};

// A directory search: FindClose.
class FindHandle {
public:
    explicit FindHandle(HANDLE handle) : handle_(handle) {}
    ~FindHandle()
    {
        if (IsValid())
            FindClose(handle_);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    HANDLE Get() const { return handle_; }
    bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

// COM on this thread: CoUninitialize when the initialization succeeded.
class ComInitialization {
public:
    ComInitialization() : initialized_(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComInitialization()
    {
        if (initialized_)
            CoUninitialize();
    }
    ComInitialization(const ComInitialization&) = delete;
    ComInitialization& operator=(const ComInitialization&) = delete;

private:
    bool initialized_;
};
