// CFileDX on POSIX systems: open, create, seek, read, write and size on one file descriptor.
#include "util/fs/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "util/fs/paths_posix.h"
#include "util/text/code_page.h"

CFileDX::~CFileDX() { Close(); }

int CFileDX::Open(const wchar_t* path)
{
    if (IsOpen())
        return 0;
    const int fd = open(PosixPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0)
        return 0;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {  // Windows opens no folder as a file either
        close(fd);
        return 0;
    }
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    handle_ = fd;
    return 1;
}

int CFileDX::Create(const wchar_t* path, uint32_t mode)
{
    if (IsOpen())
        return 0;
    const int how = mode == 1 ? O_CREAT : mode == kCreateNew ? O_CREAT | O_EXCL | O_NOFOLLOW : O_CREAT | O_TRUNC;
    const int fd = open(PosixPath(path).c_str(), O_WRONLY | O_CLOEXEC | how, 0666);
    if (fd < 0)
        return 0;
    handle_ = fd;
    return 1;
}

void CFileDX::Close()
{
    if (!IsOpen())
        return;
    close(handle_);
    handle_ = NoFile();
}

// A regular file's read or write may transfer less than asked; the whole count is what Windows gives.
uint32_t CFileDX::Read(void* buffer, uint32_t count)
{
    char* p = static_cast<char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = read(handle_, p + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return 0;
        if (n == 0)
            break;
        done += static_cast<uint32_t>(n);
    }
    return done;
}

uint32_t CFileDX::Write(const void* buffer, uint32_t count)
{
    const char* p = static_cast<const char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = write(handle_, p + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        done += static_cast<uint32_t>(n);
    }
    return done;
}

int CFileDX::Seek(int64_t position) { return lseek(handle_, static_cast<off_t>(position), SEEK_SET) < 0 ? 0 : 1; }

uint32_t CFileDX::GetSize()
{
    struct stat st;
    if (fstat(handle_, &st) != 0)
        return 0xFFFFFFFF;
    return static_cast<uint32_t>(static_cast<uint64_t>(st.st_size));
}

int CFileDX::Adopt(FileHandle handle)
{
    if (handle < 0)
        return 0;
    if (IsOpen()) {
        close(handle);
        return 0;
    }
    handle_ = handle;
    return 1;
}

int CFileDX::Flush() { return fsync(handle_) == 0 ? 1 : 0; }

bool OwnProgramPath(std::wstring& path)
{
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return false;
    buffer[n] = '\0';
    return BytesToUtf16(CodePage::Utf8, buffer, false, path);
}
