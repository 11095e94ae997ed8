// Temporary folders and whole-file helpers for the tests on POSIX systems, with the standard library.
#include "tests/testing_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "util/fs/paths.h"
#include "util/fs/paths_posix.h"
#include "util/text/code_page.h"

namespace fs = std::filesystem;

namespace {

std::wstring Wide(const std::string& utf8)
{
    std::wstring wide;
    BytesToUtf16(CodePage::Utf8, utf8.c_str(), false, wide);
    return wide;
}

}  // namespace

TempDir::TempDir()
{
    std::string base = (fs::temp_directory_path() / "upd_XXXXXX").string();
    if (!mkdtemp(&base[0])) {
        perror("TempDir");
        abort();
    }
    path_ = Wide(base);
}

TempDir::~TempDir() { RemoveTree(path_); }

void RemoveTree(const std::wstring& path)
{
    std::error_code ignored;
    fs::remove_all(PosixPath(path), ignored);
}

bool WriteBytes(const std::wstring& path, const Bytes& data)
{
    std::ofstream out(PosixPath(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out.flush());
}

bool WriteText(const std::wstring& path, const std::string& text) { return WriteBytes(path, ToBytes(text)); }

Bytes ReadBytes(const std::wstring& path)
{
    std::ifstream in(PosixPath(path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::wstring& path) { return KindOf(path) != PathKind::None; }

void MakeDir(const std::wstring& path)
{
    std::error_code ignored;
    fs::create_directory(PosixPath(path), ignored);
}

std::vector<std::wstring> ListFiles(const std::wstring& root)
{
    std::vector<std::wstring> names;
    const fs::path base = PosixPath(root);
    for (const auto& entry : fs::recursive_directory_iterator(base))
        if (entry.is_regular_file()) {
            std::wstring name = Wide(fs::relative(entry.path(), base).string());
            std::replace(name.begin(), name.end(), L'/', L'\\');
            names.push_back(name);
        }
    std::sort(names.begin(), names.end());
    return names;
}

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

