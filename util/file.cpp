// CFileDX: open, create, seek, read, write and size on one Win32 file handle.
#include "util/file.h"

namespace {
const DWORD kFileFlags = FILE_ATTRIBUTE_ARCHIVE | FILE_FLAG_SEQUENTIAL_SCAN;  // 0x08000020
}

CFileDX::~CFileDX() { Close(); }

int CFileDX::Open(const wchar_t* path)
{
    if (IsOpen())
        return 0;
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, kFileFlags, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    handle_ = h;
    return 1;
}

int CFileDX::Create(const wchar_t* path, uint32_t mode)
{
    if (IsOpen())
        return 0;
    DWORD disposition = mode == 1 ? OPEN_ALWAYS : CREATE_ALWAYS;
    HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, disposition, kFileFlags, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    handle_ = h;
    return 1;
}

void CFileDX::Close()
{
    if (!IsOpen())
        return;
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

uint32_t CFileDX::Read(void* buffer, uint32_t count)
{
    DWORD done = 0;
    if (!ReadFile(handle_, buffer, count, &done, nullptr))
        return 0;
    return done;
}

uint32_t CFileDX::Write(const void* buffer, uint32_t count)
{
    DWORD done = 0;
    if (!WriteFile(handle_, buffer, count, &done, nullptr))
        return 0;
    return done;
}

int CFileDX::Seek(int64_t position)
{
    LONG high = static_cast<LONG>(position >> 32);
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(handle_, static_cast<LONG>(position & 0xFFFFFFFF), &high, FILE_BEGIN);
    // All ones is also a legitimate low part; only the error code tells the two apart.
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return 0;
    return 1;
}

uint32_t CFileDX::GetSize() { return GetFileSize(handle_, nullptr); }
