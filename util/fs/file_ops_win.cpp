// The system's file operations behind g_fileOps, and the calls into ntdll that open and rename relative to a
// folder handle, looked up at run time: ntdll is in every process, so nothing is imported statically for it.
#include "util/fs/file_ops_win.h"

#include <winternl.h>

#include <vector>

#include "util/base/system_functions_win.h"

namespace {

using NtCreateFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                        ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using NtSetInformationFileFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
using RtlNtStatusToDosErrorFn = ULONG(NTAPI*)(NTSTATUS);
using NtQueryObjectFn = NTSTATUS(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);

struct NtApi {
    NtCreateFileFn createFile = nullptr;
    NtSetInformationFileFn setInformation = nullptr;
    RtlNtStatusToDosErrorFn toDosError = nullptr;
    NtQueryObjectFn queryObject = nullptr;
};

const NtApi& Nt()
{
    static const NtApi api = [] {
        NtApi a;
        a.createFile = ResolveSystem<NtCreateFileFn>(ResolveSystemFunction(L"ntdll.dll", "NtCreateFile"));
        a.setInformation = ResolveSystem<NtSetInformationFileFn>(ResolveSystemFunction(L"ntdll.dll", "NtSetInformationFile"));
        a.toDosError = ResolveSystem<RtlNtStatusToDosErrorFn>(ResolveSystemFunction(L"ntdll.dll", "RtlNtStatusToDosError"));
        a.queryObject = ResolveSystem<NtQueryObjectFn>(ResolveSystemFunction(L"ntdll.dll", "NtQueryObject"));
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

// A single name below `folder`, as the system's calls take it; false (ERROR_INVALID_NAME) for anything else.
bool NameIn(HANDLE folder, const std::wstring& name, UNICODE_STRING& text, OBJECT_ATTRIBUTES& attributes)
{
    if (name.empty() || name.size() > 0x7FFF / sizeof(wchar_t) || name.find_first_of(L"\\/") != std::wstring::npos) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
    return true;
}

HANDLE CreateRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                      ULONG options, bool followLink)
{
    UNICODE_STRING text;
    OBJECT_ATTRIBUTES attributes;
    if (!Nt().createFile) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return nullptr;
    }
    if (!NameIn(folder, name, text, attributes))
        return nullptr;
    IO_STATUS_BLOCK io{};
    HANDLE h = nullptr;
    const NTSTATUS status =
        Nt().createFile(&h, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share, disposition,
                        options | kFileSynchronousIo | (followLink ? 0 : kFileOpenReparsePoint), nullptr, 0);
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

// A folder's entries are flushed through a handle that may add files; the held handle only lists. A second
// handle to the same folder is opened for the flush alone, by the empty name relative to the held one.
bool SystemFlushFolder(HANDLE folder)
{
    if (!Nt().createFile) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return false;
    }
    UNICODE_STRING none{};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &none, 0, folder, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE h = nullptr;
    const NTSTATUS status =
        Nt().createFile(&h, FILE_ADD_FILE | SYNCHRONIZE, &attributes, &io, nullptr, 0,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, kFileOpen, kFileDirectoryFile | kFileSynchronousIo,
                        nullptr, 0);
    if (!Succeeded(status))
        return false;
    const bool flushed = FlushFileBuffers(h) != 0;
    const DWORD error = GetLastError();
    CloseHandle(h);
    SetLastError(error);
    return flushed;
}

void SystemClose(HANDLE file) { CloseHandle(file); }

HANDLE SystemCreate(HANDLE folder, const std::wstring& name)
{
    return CreateRelative(folder, name, GENERIC_READ | GENERIC_WRITE | DELETE, 0, kFileCreate,
                          kFileNonDirectoryFile | FILE_SEQUENTIAL_ONLY, false);
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

constexpr FileOps kSystemFileOps = {SystemCreate,        SystemWrite,  SystemFlush, SystemFlushFolder,
                                    SystemRename,        SystemSetAttributes, SystemRemove, SystemClose};

}  // namespace

FileOps g_fileOps = kSystemFileOps;

const FileOps& SystemFileOps() { return kSystemFileOps; }

HANDLE OpenRelative(HANDLE folder, const std::wstring& name, DWORD access, DWORD share, bool create, RelativeKind kind,
                    LinkRule links)
{
    const ULONG options = kind == RelativeKind::File ? kFileNonDirectoryFile : kind == RelativeKind::Folder ? kFileDirectoryFile : 0;
    return CreateRelative(folder, name, access, share, create ? kFileCreate : kFileOpen, options, links == LinkRule::Followed);
}

bool ObjectPathOf(HANDLE handle, std::wstring& path)
{
    if (!Nt().queryObject)
        return false;
    std::vector<unsigned char> buffer(4096);
    for (int tries = 0; tries < 2; ++tries) {
        ULONG needed = 0;
        const NTSTATUS status = Nt().queryObject(handle, ObjectNameInformation, buffer.data(),
                                                 static_cast<ULONG>(buffer.size()), &needed);
        if (status >= 0) {
            const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
            const std::wstring nt(name->Buffer, name->Length / sizeof(wchar_t));
            // Only a name in the DOS devices' folder has a DOS form: "\??\C:\x" is "\\?\C:\x".
            if (nt.compare(0, 4, L"\\??\\") != 0)
                return false;
            path = L"\\\\?\\" + nt.substr(4);
            return true;
        }
        if (needed <= buffer.size())
            return false;
        buffer.resize(needed);
    }
    return false;
}
