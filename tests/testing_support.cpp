// Temporary folders and whole-file helpers for the tests, on the real Win32 file system.
#include "tests/testing_support.h"

#include "util/base/handles_win.h"

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
    const FindHandle h(FindFirstFileW((path + L"\\*").c_str(), &fd));
    if (h.IsValid()) {
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
        } while (FindNextFileW(h.Get(), &fd));
    }
    RemoveDirectoryW(path.c_str());
}

bool WriteBytes(const std::wstring& path, const Bytes& data)
{
    const UniqueHandle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD done = 0;
    return h.IsValid() && (data.empty() || WriteFile(h.Get(), data.data(), static_cast<DWORD>(data.size()), &done, nullptr)) &&
           done == data.size();
}

bool WriteText(const std::wstring& path, const std::string& text) { return WriteBytes(path, ToBytes(text)); }

Bytes ReadBytes(const std::wstring& path)
{
    Bytes data;
    const UniqueHandle h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size;
    if (h.IsValid() && GetFileSizeEx(h.Get(), &size) && size.QuadPart > 0) {
        data.resize(static_cast<size_t>(size.QuadPart));
        DWORD done = 0;
        if (!ReadFile(h.Get(), data.data(), static_cast<DWORD>(data.size()), &done, nullptr))
            done = 0;
        data.resize(done);
    }
    return data;
}

UniqueHandle HoldAsTheGame(const std::wstring& path)
{
    return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void MakeDir(const std::wstring& path) { CreateDirectoryW(path.c_str(), nullptr); }

static void ListInto(const std::wstring& root, const std::wstring& rel, std::vector<std::wstring>& out)
{
    WIN32_FIND_DATAW fd;
    std::wstring dir = rel.empty() ? root : root + L"\\" + rel;
    const FindHandle h(FindFirstFileW((dir + L"\\*").c_str(), &fd));
    if (!h.IsValid())
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
    } while (FindNextFileW(h.Get(), &fd));
}

std::vector<std::wstring> ListFiles(const std::wstring& root)
{
    std::vector<std::wstring> out;
    ListInto(root, L"", out);
    std::sort(out.begin(), out.end());
    return out;
}

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }


bool StartProcess(const std::wstring& commandLine, bool inheritHandles, STARTUPINFOW& si, PROCESS_INFORMATION& pi,
                  unsigned long* error)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::wstring line = commandLine;  // CreateProcessW may write into it
        if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, inheritHandles, 0, nullptr, nullptr, &si, &pi)) {
            if (error)
                *error = 0;
            return true;
        }
        if (error)
            *error = GetLastError();
    }
    return false;
}

ChildProcess::ChildProcess(const std::wstring& commandLine)
{
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!StartProcess(commandLine, false, si, pi, &startError_))
        return;
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    id_ = pi.dwProcessId;
}

ChildProcess::~ChildProcess()
{
    if (!process_)
        return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, kNoExitCode);
        WaitForSingleObject(process_, 10000);
    }
    CloseHandle(process_);
}

unsigned long ChildProcess::Wait(unsigned long timeoutMs)
{
    DWORD code = kNoExitCode;
    if (process_ && WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0 && GetExitCodeProcess(process_, &code))
        return code;
    return kNoExitCode;
}

ProcessResult RunProgram(const std::wstring& commandLine, unsigned long timeoutMs)
{
    ProcessResult result;
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &sa, 0))
        return result;
    const UniqueHandle readEnd(read);
    UniqueHandle writeEnd(write);
    SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = writeEnd.Get();
    si.hStdError = writeEnd.Get();
    PROCESS_INFORMATION pi = {};
    result.started = StartProcess(commandLine, true, si, pi, &result.startError);
    writeEnd.Reset(nullptr);
    if (!result.started)
        return result;
    const UniqueHandle process(pi.hProcess), thread(pi.hThread);
    // Drain the pipe on this thread; the child's end closes when it exits.
    auto drain = [&] {
        DWORD available = 0, n = 0;
        char buffer[4096];
        while (PeekNamedPipe(readEnd.Get(), nullptr, 0, nullptr, &available, nullptr) && available &&
               ReadFile(readEnd.Get(), buffer, sizeof buffer, &n, nullptr) && n)
            result.output.append(buffer, n);
    };
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (WaitForSingleObject(process.Get(), 10) == WAIT_TIMEOUT) {
        drain();
        if (GetTickCount64() >= end) {
            TerminateProcess(process.Get(), 0xDEAD);
            WaitForSingleObject(process.Get(), 5000);
            return result;
        }
    }
    drain();
    result.finished = true;
    GetExitCodeProcess(process.Get(), &result.exitCode);
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

}  // namespace

bool RunUnixOn(const wchar_t* command, const std::vector<std::wstring>& paths)
{
    const UnixName unixName = WineUnixName();
    if (!unixName)
        return false;
    // Wine starts a Unix process without waiting for it and hands back no exit code: the script ends by
    // writing the command's exit status into a marker file (whole, by a rename), and the caller waits for it.
    static int serial = 0;
    wchar_t temp[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, temp))
        return false;
    const std::wstring marker = std::wstring(temp) + L"unix-done-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                std::to_wstring(++serial);
    DeleteFileW(marker.c_str());
    std::wstring script = L"set --";
    std::vector<std::wstring> all = paths;
    all.push_back(marker);
    for (const std::wstring& path : all) {
        char* name = unixName(path.c_str());
        if (!name)
            return false;
        script += L" '";
        for (const char* p = name; *p; ++p)
            script += static_cast<wchar_t>(static_cast<unsigned char>(*p));
        script += L"'";
        HeapFree(GetProcessHeap(), 0, name);
    }
    const std::wstring markerArg = L"\"${" + std::to_wstring(all.size()) + L"}\"";
    script += std::wstring(L"; ") + command + L"; s=$?; echo $s > " + markerArg + L".part && mv " + markerArg +
              L".part " + markerArg;
    std::wstring line = L"Z:\\bin\\sh -c \"";
    for (wchar_t c : script)
        line += c == L'"' ? std::wstring(L"\\\"") : std::wstring(1, c);
    line += L"\"";
    RunProgram(line, 10000);
    const bool done = WaitUntil([&] { return FileExists(marker); }, 10000);
    const Bytes status = done ? ReadBytes(marker) : Bytes();
    DeleteFileW(marker.c_str());
    return status.size() >= 2 && status[0] == '0' && status[1] == '\n';
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
        return RunUnixOn(L"ln -s \"$1\" \"$2\" && test -L \"$2\"", {target, link});
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const DWORD flags = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                            ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
    return CreateSymbolicLinkW(link.c_str(), target.c_str(), flags) != 0;
}

bool RemoveLink(const std::wstring& link)
{
    if (WineUnixName())  // under Wine, DeleteFileW on a Unix link deletes its target
        return RunUnixOn(L"rm -f \"$1\"", {link});
    const DWORD attributes = GetFileAttributesW(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
               ? RemoveDirectoryW(link.c_str()) != 0 : DeleteFileW(link.c_str()) != 0;
}
