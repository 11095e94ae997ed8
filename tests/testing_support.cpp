// Temporary folders and whole-file helpers for the tests, on the real Win32 file system.
#include "tests/testing_support.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

TempDir::TempDir()
{
    static unsigned counter = 0;
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    CreateDirectoryW(base, nullptr);  // the temporary folder itself, should the prefix not have made it yet
    // A name that is taken (a folder left by a killed program of the same process id) moves on to the next;
    // any other failure ends the test program at once rather than leaving it to spin.
    DWORD error = ERROR_ALREADY_EXISTS;
    for (unsigned attempt = 0; attempt < 100000 && error == ERROR_ALREADY_EXISTS; ++attempt) {
        wchar_t name[MAX_PATH + 64];
        _snwprintf(name, MAX_PATH + 63, L"%lsupd%lu_%u", base, GetCurrentProcessId(), counter++);
        if (CreateDirectoryW(name, nullptr)) {
            path_ = name;
            return;
        }
        error = GetLastError();
    }
    fprintf(stderr, "TempDir: cannot make a folder below %ls (error %lu)\n", base, error);
    abort();
}

TempDir::~TempDir() { RemoveTree(path_); }

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring full = path + L"\\" + name;
            SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                DeleteFileW(full.c_str());
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(path.c_str());
}

bool WriteBytes(const std::wstring& path, const Bytes& data)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD done = 0;
    BOOL ok = data.empty() || WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &done, nullptr);
    CloseHandle(h);
    return ok && done == data.size();
}

bool WriteText(const std::wstring& path, const std::string& text) { return WriteBytes(path, ToBytes(text)); }

Bytes ReadBytes(const std::wstring& path)
{
    Bytes data;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return data;
    LARGE_INTEGER size;
    if (GetFileSizeEx(h, &size) && size.QuadPart > 0) {
        data.resize(static_cast<size_t>(size.QuadPart));
        DWORD done = 0;
        if (!ReadFile(h, data.data(), static_cast<DWORD>(data.size()), &done, nullptr))
            done = 0;
        data.resize(done);
    }
    CloseHandle(h);
    return data;
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void MakeDir(const std::wstring& path) { CreateDirectoryW(path.c_str(), nullptr); }

static void ListInto(const std::wstring& root, const std::wstring& rel, std::vector<std::wstring>& out)
{
    WIN32_FIND_DATAW fd;
    std::wstring dir = rel.empty() ? root : root + L"\\" + rel;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring sub = rel.empty() ? name : rel + L"\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListInto(root, sub, out);
        else
            out.push_back(sub);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

std::vector<std::wstring> ListFiles(const std::wstring& root)
{
    std::vector<std::wstring> out;
    ListInto(root, L"", out);
    std::sort(out.begin(), out.end());
    return out;
}

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

ProcessResult RunProgram(const std::wstring& commandLine, unsigned long timeoutMs)
{
    ProcessResult result;
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0))
        return result;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    PROCESS_INFORMATION pi = {};
    std::wstring mutableLine = commandLine;
    result.started = CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);
    if (!result.started) {
        CloseHandle(readEnd);
        return result;
    }
    // Drain the pipe on this thread; the child's end closes when it exits.
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr))
            break;
        if (available) {
            char buffer[4096];
            DWORD n = 0;
            if (!ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) || n == 0)
                break;
            result.output.append(buffer, n);
            continue;
        }
        if (WaitForSingleObject(pi.hProcess, 10) == WAIT_OBJECT_0) {
            DWORD n = 0;
            char buffer[4096];
            while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available &&
                   ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n)
                result.output.append(buffer, n);
            break;
        }
        if (GetTickCount64() >= end) {
            TerminateProcess(pi.hProcess, 0xDEAD);
            WaitForSingleObject(pi.hProcess, 5000);
            CloseHandle(readEnd);
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
            return result;
        }
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    result.finished = true;
    GetExitCodeProcess(pi.hProcess, &result.exitCode);
    CloseHandle(readEnd);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return result;
}

std::wstring FromUnixPath(const char* unixPath)
{
    std::wstring path = L"Z:";
    for (const char* p = unixPath; *p; ++p)
        path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
    return path;
}

namespace {

using UnixName = char*(CDECL*)(const wchar_t*);

// Wine's own export names the Unix file behind a Windows path; null outside Wine.
UnixName WineUnixName()
{
    return reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
}

// A name that stands in its folder's listing (Wine does not list a link whose target is gone).
bool NameListed(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(path.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    FindClose(find);
    return true;
}

// Waits up to 5 s for a name to appear in (or vanish from) its folder's listing. Wine lists no link whose
// target is gone, so for such a link this only gives the Unix program time.
bool AwaitListed(const std::wstring& path, bool listed, bool observable)
{
    if (!observable) {
        Sleep(500);
        return true;
    }
    return WaitUntil([&] { return NameListed(path) == listed; });
}

}  // namespace

bool RunUnixOn(const wchar_t* program, const std::vector<std::wstring>& paths)
{
    const UnixName unixName = WineUnixName();
    if (!unixName)
        return false;
    std::wstring line = program;
    for (const std::wstring& path : paths) {
        char* name = unixName(path.c_str());
        if (!name)
            return false;
        line += L" \"";
        for (const char* p = name; *p; ++p)
            line += static_cast<wchar_t>(static_cast<unsigned char>(*p));
        line += L"\"";
        HeapFree(GetProcessHeap(), 0, name);
    }
    // Wine starts a Unix process without waiting for it and hands back no exit code: the caller waits
    // for what it makes.
    return RunProgram(line, 10000).finished;
}

bool WaitUntil(const std::function<bool()>& condition, unsigned long timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount64() > end)
            return false;
        Sleep(5);
    }
}

bool PlantLink(const std::wstring& link, const std::wstring& target)
{
    if (WineUnixName())  // Wine's CreateSymbolicLinkW makes nothing: a Unix link stands in for it
        return RunUnixOn(L"Z:\\bin\\ln -s", {target, link}) && AwaitListed(link, true, NameListed(target));
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const DWORD flags = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                            ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
    return CreateSymbolicLinkW(link.c_str(), target.c_str(), flags) != 0;
}

bool RemoveLink(const std::wstring& link)
{
    if (WineUnixName())  // under Wine, DeleteFileW on a Unix link deletes its target
        return RunUnixOn(L"Z:\\bin\\rm -f", {link}) && AwaitListed(link, false, NameListed(link));
    const DWORD attributes = GetFileAttributesW(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
               ? RemoveDirectoryW(link.c_str()) != 0 : DeleteFileW(link.c_str()) != 0;
}
