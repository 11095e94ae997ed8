// CFileDX: the one owner of an open file (a Win32 handle on Windows, a descriptor elsewhere), with
// whole-buffer reads and writes that report byte counts. Paths are UTF-16 on every system; elsewhere they
// are given to the system as UTF-8, "\\" and "/" both separating folders.
#pragma once
#include <cstdint>
#include <string>

#if defined(_WIN32)
#include "util/fs/file_win.h"
#else
#include "util/fs/file_posix.h"
#endif

class CFileDX {
public:
    CFileDX() = default;
    virtual ~CFileDX();
    CFileDX(const CFileDX&) = delete;
    CFileDX& operator=(const CFileDX&) = delete;

    // Existing file, read access, others may read too. 1 when open, 0 otherwise (also when already open).
    int Open(const wchar_t* path);
    // Write access, exclusive. Mode 1 opens or creates without truncating; kCreateNew creates a file only
    // where nothing stands yet (never opening an existing file or a link), and lets the file be renamed
    // and deleted through this handle; any other mode creates anew or truncates. 1 when open, 0 otherwise
    // (also when already open).
    static const uint32_t kCreateNew = 2;
    int Create(const wchar_t* path, uint32_t mode);
    void Close();

    // Transfers are single calls: the result is the count the system reports, 0 when the call fails.
    uint32_t Read(void* buffer, uint32_t count);
    uint32_t Write(const void* buffer, uint32_t count);
    // Absolute position from the file's start. 1 on success, 0 on failure.
    int Seek(int64_t position);
    // Low 32 bits of the size; 0xFFFFFFFF when the query fails.
    uint32_t GetSize();

    // Forces what was written to the disk. 1 on success.
    int Flush();

    bool IsOpen() const { return handle_ != NoFile(); }
    // The open handle (or descriptor), for the system's calls on it; it stays this object's to close.
    FileHandle Handle() const { return handle_; }
    // Takes `handle`, opened elsewhere, to own and close. 1 when taken; 0 when it is none, or a file is
    // already open (then `handle` is closed, never leaked).
    int Adopt(FileHandle handle);
    // Hands the open handle over to another owner; this object holds none afterwards.
    FileHandle Release()
    {
        const FileHandle h = handle_;
        handle_ = NoFile();
        return h;
    }

private:
    static FileHandle NoFile() { return NoFileHandle(); }
    FileHandle handle_ = NoFile();
};

// The running program's own file. False when it cannot be named.
bool OwnProgramPath(std::wstring& path);
