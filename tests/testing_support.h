// Helpers shared by the tests: a fresh temporary folder per test and whole-file reads and writes (on every
// system, paths joined with "\\"), and on Windows processes, links and held files.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "util/folder/folder_reader.h"
#if defined(_WIN32)
#include "util/base/handles_win.h"
#endif

using Bytes = std::vector<uint8_t>;

// A new empty folder under the temporary folder, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

bool WriteBytes(const std::wstring& path, const Bytes& data);
bool WriteText(const std::wstring& path, const std::string& text);
Bytes ReadBytes(const std::wstring& path);  // empty when unreadable
bool FileExists(const std::wstring& path);
void MakeDir(const std::wstring& path);
// Names of the files (not folders) below `root`, relative to it, sorted.
std::vector<std::wstring> ListFiles(const std::wstring& root);
void RemoveTree(const std::wstring& path);
Bytes ToBytes(const std::string& s);

#if defined(_WIN32)
// Opens a file as the running game holds its files: reading, others may read, nobody may write, rename or
// delete it while the handle lives. Invalid when the file cannot be opened.
UniqueHandle HoldAsTheGame(const std::wstring& path);

// The exit code of a program that did not start, or did not end by itself in time: no test can mistake
// it for a program's own answer.
const unsigned long kNoExitCode = 0xDEADC0DE;

struct ProcessResult {
    bool started = false;
    unsigned long startError = 0;  // GetLastError of the last start tried, when none started
    bool finished = false;   // false: killed after the time limit
    unsigned long exitCode = kNoExitCode;
    std::string output;      // standard output and standard error together
};

// CreateProcessW with these arguments, tried again when it fails: under Wine on a loaded machine it has been
// seen to fail once in a whole CI run for a program it starts a thousand times otherwise, so a start that
// fails is tried three times before it counts, as RunProgram always did. False with the last error when none started.
bool StartProcess(const std::wstring& commandLine, bool inheritHandles, STARTUPINFOW& si, PROCESS_INFORMATION& pi,
                  unsigned long* error = nullptr);

// A program started with this command line, without waiting for it, that is ended when the owner goes
// (so that a failed assertion leaves nothing running, nor a mutex taken).
class ChildProcess {
public:
    explicit ChildProcess(const std::wstring& commandLine);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    bool Started() const { return process_ != nullptr; }
    unsigned long StartError() const { return startError_; }  // GetLastError of the last start tried
    unsigned long Id() const { return id_; }
    // Waits up to timeoutMs for the program to end: its exit code, or kNoExitCode.
    unsigned long Wait(unsigned long timeoutMs);

private:
    void* process_ = nullptr;
    unsigned long id_ = 0;
    unsigned long startError_ = 0;
};

// Runs a program with this command line, its output captured, and waits up to timeoutMs.
ProcessResult RunProgram(const std::wstring& commandLine, unsigned long timeoutMs = 60000);
// Plants a link at `link` that leads to `target` (a file or a folder, which need not exist): a Unix
// symbolic link under Wine, a Windows symbolic link elsewhere. False when none could be made.
bool PlantLink(const std::wstring& link, const std::wstring& target);
// Removes a link as itself (or a plain file at that name), never what it leads to.
bool RemoveLink(const std::wstring& link);
// Runs a shell command of this machine in which "$1", "$2"... stand for the Unix names of Windows paths,
// and waits until it has ended. False when it could not be started or did not end within 10 s.
bool RunUnixOn(const wchar_t* command, const std::vector<std::wstring>& paths);
// Asks `condition` until it holds or `timeoutMs` pass; true when it held.
bool WaitUntil(const std::function<bool()>& condition, unsigned long timeoutMs = 5000);
// A Unix path of the build tree as Wine's Z: drive shows it.
std::wstring FromUnixPath(const char* unixPath);
#endif
