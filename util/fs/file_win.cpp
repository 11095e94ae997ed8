// CFileDX: open, create, seek, read, write and size on one Win32 file handle.
#include "util/fs/file.h"

#include <windows.h>

#include "util/base/handles_win.h"
#include "util/fs/file_ops_win.h"
#include "util/text/strings.h"

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
    DWORD disposition = mode == 1 ? OPEN_ALWAYS : mode == kCreateNew ? CREATE_NEW : CREATE_ALWAYS;
    const DWORD access = mode == kCreateNew ? GENERIC_WRITE | DELETE : GENERIC_WRITE;
    const DWORD share = mode == kCreateNew ? FILE_SHARE_DELETE : 0;
    HANDLE h = CreateFileW(path, access, share, nullptr, disposition, kFileFlags, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    handle_ = h;
    return 1;
}

void CFileDX::Close()
{
    if (!IsOpen())
        return;
    g_fileOps.close(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

uint32_t CFileDX::Read(void* buffer, uint32_t count)
{
    DWORD done = 0;
    if (!ReadFile(handle_, buffer, count, &done, nullptr))
        return 0;
    return done;
}

uint32_t CFileDX::Write(const void* buffer, uint32_t count) { return g_fileOps.write(handle_, buffer, count); }

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

int CFileDX::Flush() { return g_fileOps.flush(handle_) ? 1 : 0; }

int CFileDX::Adopt(FileHandle handle)
{
    if (!handle || handle == INVALID_HANDLE_VALUE)
        return 0;
    if (IsOpen()) {
        CloseHandle(handle);
        return 0;
    }
    handle_ = handle;
    return 1;
}

bool OwnProgramPath(std::wstring& path)
{
    wchar_t buffer[kFolderCapacity];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, kFolderCapacity);
    if (n == 0 || n >= kFolderCapacity)
        return false;
    path.assign(buffer, n);
    return true;
}
