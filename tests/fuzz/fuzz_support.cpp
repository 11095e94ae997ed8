// Inputs as files below a folder of this process (in /dev/shm when there is one: no disk in the loop).
#include "tests/fuzz/fuzz_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "util/text/code_page.h"

namespace {

std::string Base()
{
    static const std::string base = [] {
        const char* shm = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string b = std::string(shm) + "/garasu-fuzz-" + std::to_string(getpid());
        mkdir(b.c_str(), 0700);
        mkdir((b + "/folder").c_str(), 0700);
        return b;
    }();
    return base;
}

std::wstring Wide(const std::string& path)
{
    std::wstring wide;
    BytesToUtf16(CodePage::Utf8, path.c_str(), false, wide);
    return wide;
}

bool Write(const std::string& path, const uint8_t* data, size_t size, uint64_t at, const std::string& tail,
           uint64_t tailAt)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    bool ok = ftruncate(fd, static_cast<off_t>(at)) == 0 && lseek(fd, static_cast<off_t>(at), SEEK_SET) >= 0 &&
              (size == 0 || write(fd, data, size) == static_cast<ssize_t>(size)) &&
              (tail.empty() || tailAt <= at + size || lseek(fd, static_cast<off_t>(tailAt), SEEK_SET) >= 0) &&
              (tail.empty() || write(fd, tail.data(), tail.size()) == static_cast<ssize_t>(tail.size()));
    close(fd);
    return ok;
}

}  // namespace

std::wstring InputFile(const uint8_t* data, size_t size, uint64_t at, const std::string& tail, const char* name,
                       uint64_t tailAt)
{
    const std::string path = Base() + "/" + name;
    if (!Write(path, data, size, at, tail, tailAt))
        abort();  // the machine, not the input: stop rather than fuzz nothing
    return Wide(path);
}

std::wstring InputFolder(const uint8_t* data, size_t size, const char* name)
{
    // What an earlier input left would change what the readers find there (a list that prunes by what
    // exists), and a finding would not replay on its own.
    const std::string folder = Base() + "/folder";
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        abort();
    while (const dirent* entry = readdir(dir))
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0 &&
            unlink((folder + "/" + entry->d_name).c_str()) != 0 && errno != ENOENT)
            abort();  // the machine, not the input, as in InputFile
    closedir(dir);
    if (!Write(folder + "/" + name, data, size, 0, std::string(), 0))
        abort();
    return Wide(folder);
}
