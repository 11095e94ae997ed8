// CFileDX: open, create, seek, read, write and size on one Win32 file handle.
#include "util/file.h"

#include <windows.h>

#include "util/file_ops.h"
#include "util/handles.h"
#include "util/relative_files.h"
#include "util/strings.h"

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

int CFileDX::OpenIn(void* folder, const std::wstring& name)
{
    if (IsOpen())
        return 0;
    HANDLE h = OpenFileIn(folder, name, GENERIC_READ, FILE_SHARE_READ);
    if (!h)
        return 0;
    handle_ = h;
    return 1;
}

int CFileDX::CreateIn(void* folder, const std::wstring& name)
{
    if (IsOpen())
        return 0;
    HANDLE h = CreateFileIn(folder, name);
    if (!h)
        return 0;
    handle_ = h;
    return 1;
}

int CFileDX::MoveTo(void* folder, const std::wstring& name, bool replace)
{
    return RenameHandle(handle_, folder, name, replace) ? 1 : 0;
}

int CFileDX::Flush() { return g_fileOps.flush(handle_) ? 1 : 0; }

bool CFileDX::IsInside(const std::wstring& root) { return IsOpen() && IsHandleInside(handle_, root); }

int CFileDX::Delete() { return DeleteHandle(handle_) ? 1 : 0; }

bool OwnProgramPath(std::wstring& path)
{
    wchar_t buffer[kFolderCapacity];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, kFolderCapacity);
    if (n == 0 || n >= kFolderCapacity)
        return false;
    path.assign(buffer, n);
    return true;
}

bool FinalPathOf(void* handle, std::wstring& path)
{
    wchar_t buffer[1024];
    const DWORD n = GetFinalPathNameByHandleW(handle, buffer, 1024, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= 1024)
        return false;
    path.assign(buffer, n);
    return true;
}

bool FinalFolderPath(const wchar_t* folder, std::wstring& root)
{
    const UniqueHandle h(CreateFileW(folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return h.IsValid() && FinalPathOf(h.Get(), root);
}

bool IsHandleInside(void* handle, const std::wstring& root)
{
    std::wstring path;
    if (root.empty() || !FinalPathOf(handle, path))
        return false;
    const size_t n = root.back() == L'\\' ? root.size() - 1 : root.size();  // a drive root ends with one
    return path.size() > n + 1 && path[n] == L'\\' &&
           CompareStringOrdinal(path.c_str(), static_cast<int>(n), root.c_str(), static_cast<int>(n), TRUE) == CSTR_EQUAL;
}
