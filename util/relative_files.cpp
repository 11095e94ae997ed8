// Handle-relative creation, opening, renaming and deletion through ntdll, looked up at run time: ntdll is
// in every process, so nothing is imported statically for it.
#include "util/relative_files.h"

#include "util/file_ops.h"

#include <winternl.h>

#include <vector>

namespace {

using NtCreateFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                        ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using NtSetInformationFileFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
using RtlNtStatusToDosErrorFn = ULONG(NTAPI*)(NTSTATUS);

struct NtApi {
    NtCreateFileFn createFile = nullptr;
    NtSetInformationFileFn setInformation = nullptr;
    RtlNtStatusToDosErrorFn toDosError = nullptr;
};

template <typename F>
F Lookup(HMODULE module, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const NtApi& Nt()
{
    static const NtApi api = [] {
        NtApi a;
        if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
            a.createFile = Lookup<NtCreateFileFn>(ntdll, "NtCreateFile");
            a.setInformation = Lookup<NtSetInformationFileFn>(ntdll, "NtSetInformationFile");
            a.toDosError = Lookup<RtlNtStatusToDosErrorFn>(ntdll, "RtlNtStatusToDosError");
        }
        return a;
    }();
    return api;
}

// Keeps GetLastError meaningful for callers of the Win32 style.
bool Succeeded(NTSTATUS status)
{
    if (status >= 0)
        return true;
    SetLastError(Nt().toDosError ? Nt().toDosError(status) : ERROR_GEN_FAILURE);
    return false;
}

const ULONG kFileInformationRename = 10;  // FileRenameInformation
const ULONG kFileDirectoryFile = 0x00000001, kFileSynchronousIo = 0x00000020, kFileNonDirectoryFile = 0x00000040;
const ULONG kFileOpenReparsePoint = 0x00200000;
const ULONG kFileOpen = 1, kFileCreate = 2;

// One NtCreateFile below `folder`; `name` must be a single name.
HANDLE CreateRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                      ULONG options)
{
    if (!Nt().createFile || name.empty() || name.size() > 0x7FFF / sizeof(wchar_t) ||
        name.find_first_of(L"\\/") != std::wstring::npos) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE h = nullptr;
    const NTSTATUS status = Nt().createFile(&h, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                                            share, disposition, options | kFileSynchronousIo | kFileOpenReparsePoint,
                                            nullptr, 0);
    return Succeeded(status) ? h : nullptr;
}

bool SystemSetAttributes(HANDLE file, DWORD attributes)
{
    FILE_BASIC_INFO info;
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &info, sizeof info))
        return false;
    info.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(file, FileBasicInfo, &info, sizeof info) != 0;
}

bool SystemRemove(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

uint32_t SystemWrite(HANDLE file, const void* data, uint32_t size)
{
    DWORD done = 0;
    return WriteFile(file, data, size, &done, nullptr) ? done : 0;
}

bool SystemFlush(HANDLE file) { return FlushFileBuffers(file) != 0; }

void SystemClose(HANDLE file) { CloseHandle(file); }

HANDLE SystemCreate(HANDLE folder, const std::wstring& name)
{
    return CreateRelative(folder, name, GENERIC_READ | GENERIC_WRITE | DELETE, 0, kFileCreate,
                          kFileNonDirectoryFile | FILE_SEQUENTIAL_ONLY);
}

bool SystemRename(HANDLE file, HANDLE folder, const std::wstring& name, bool replace)
{
    if (!Nt().setInformation || name.empty() || name.find_first_of(L"\\/") != std::wstring::npos) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    const size_t bytes = name.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFORMATION) + bytes);
    auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = folder;
    info->FileNameLength = static_cast<ULONG>(bytes);
    memcpy(info->FileName, name.data(), bytes);
    IO_STATUS_BLOCK io{};
    return Succeeded(Nt().setInformation(file, &io, info, static_cast<ULONG>(buffer.size()),
                                         static_cast<FILE_INFORMATION_CLASS>(kFileInformationRename)));
}

}  // namespace

FileOps g_fileOps = {SystemCreate, SystemWrite, SystemFlush, SystemRename, SystemSetAttributes, SystemRemove, SystemClose};

const FileOps& SystemFileOps()
{
    static const FileOps system = {SystemCreate, SystemWrite, SystemFlush, SystemRename, SystemSetAttributes,
                                   SystemRemove, SystemClose};
    return system;
}

HANDLE HoldFolder(HANDLE parent, const std::wstring& name)
{
    const DWORD access = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;  // no FILE_SHARE_DELETE: it cannot move
    if (!parent) {
        // The folder as named: where it leads is what its final path says.
        HANDLE h = CreateFileW(name.c_str(), access | SYNCHRONIZE, share, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        return h == INVALID_HANDLE_VALUE ? nullptr : h;
    }
    return CreateRelative(parent, name, access, share, kFileOpen, kFileDirectoryFile);
}

HANDLE OpenFileIn(HANDLE folder, const std::wstring& name, DWORD access, DWORD share)
{
    return CreateRelative(folder, name, access, share, kFileOpen, kFileNonDirectoryFile);
}

HANDLE CreateFileIn(HANDLE folder, const std::wstring& name) { return g_fileOps.create(folder, name); }

bool RenameHandle(HANDLE file, HANDLE folder, const std::wstring& name, bool replace)
{
    return g_fileOps.rename(file, folder, name, replace);
}

bool DeleteHandle(HANDLE file)
{
    if (g_fileOps.remove(file))
        return true;
    const DWORD error = GetLastError();
    const DWORD attributes = AttributesOf(file);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(error);
        return false;
    }
    // A read-only file refuses deletion. Its attributes belong to every name it has, so they are given
    // back at once through the same handle: only this name goes.
    if (!g_fileOps.setAttributes(file, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)))
        return false;
    const bool deleted = g_fileOps.remove(file);
    const DWORD deleteError = GetLastError();
    g_fileOps.setAttributes(file, attributes);
    SetLastError(deleteError);
    return deleted;
}

DWORD AttributesOf(HANDLE file)
{
    FILE_BASIC_INFO info;
    return GetFileInformationByHandleEx(file, FileBasicInfo, &info, sizeof info) ? info.FileAttributes
                                                                                 : INVALID_FILE_ATTRIBUTES;
}
