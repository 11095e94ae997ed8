// Windows' rules for names over a POSIX folder: each part of a name is looked up in its folder as spelled,
// else in any case (as Windows compares file names); a part that is not there ends the lookup.
#include "util/folder/folder_reader.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <filesystem>

#include "util/fs/file.h"
#include "util/fs/paths_posix.h"
#include "util/fs/relative_path.h"
#include "util/text/code_page.h"
#include "util/text/strings.h"

namespace {

// The name in `folder` that Windows would open for `part`: the same spelling, else the first listed one
// equal in any case. Empty when there is none.
std::string FindPart(const std::string& folder, const std::wstring& part)
{
    std::string spelled;
    Utf16ToBytes(CodePage::Utf8, part.c_str(), false, spelled);
    struct stat st;
    if (lstat((folder + "/" + spelled).c_str(), &st) == 0)
        return spelled;
    std::string match;
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error), end;
    for (; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::wstring listed;
        // A name that holds a "\\" (a POSIX name may) is no single part Windows could open.
        if (BytesToUtf16(CodePage::Utf8, name.c_str(), false, listed) && listed.find(L'\\') == std::wstring::npos &&
            SameRelativePath(listed, part) && (match.empty() || name < match))
            match = name;
    }
    return match;
}

// Windows drops the dots and blanks that end a part of a path.
std::wstring TrimmedPart(std::wstring part)
{
    if (part == L"." || part == L"..")
        return part;
    while (!part.empty() && (part.back() == L'.' || part.back() == L' '))
        part.pop_back();
    return part;
}

}  // namespace

// The folder's path and its real path, links resolved.
struct FolderReader::State {
    // The path `name` reaches as this system spells it; `found` tells whether every part was there.
    std::string Resolve(const std::wstring& name, bool& found, std::wstring* listed = nullptr) const;
    std::wstring folder;
    std::string root;
};

std::string FolderReader::State::Resolve(const std::wstring& name, bool& found, std::wstring* listed) const
{
    std::string path = PosixPath(folder);
    found = true;
    size_t start = 0;
    for (;;) {
        const size_t end = name.find_first_of(L"\\/", start);
        const std::wstring part = TrimmedPart(name.substr(start, end == std::wstring::npos ? end : end - start));
        std::string onDisk;
        if (part.empty() || part == L".") {
            // "a\\b" and "a\.\b" name "a\b"
        } else if (part.find(L':') != std::wstring::npos) {
            found = false;  // a drive or a stream: no name below the folder
        } else if (part == L".." || !found || (onDisk = FindPart(path, part)).empty()) {
            if (part != L"..")
                found = false;
            Utf16ToBytes(CodePage::Utf8, part.c_str(), false, onDisk);
        }
        if (!onDisk.empty()) {
            path += "/" + onDisk;
            if (listed) {
                std::wstring wide;
                BytesToUtf16(CodePage::Utf8, onDisk.c_str(), false, wide);
                *listed += L"\\" + wide;
            }
        }
        if (end == std::wstring::npos)
            return path;
        start = end + 1;
    }
}

FolderReader::Opened FolderReader::OpenList(const std::wstring& name, CFileDX& file) const
{
    bool found = false;
    const std::string path = state_->Resolve(name, found);
    struct stat st;
    if (!found || stat(path.c_str(), &st) != 0)
        return Opened::Missing;  // a link whose target is gone is not there either
    // A list that is a link is neither read nor replaced, as the updater refuses it.
    struct stat self;
    char real[PATH_MAX];
    std::wstring wide;
    if (state_->root.empty() || S_ISDIR(st.st_mode) || lstat(path.c_str(), &self) != 0 || S_ISLNK(self.st_mode) || !realpath(path.c_str(), real) ||
        std::string(real).compare(0, state_->root.size() + 1, state_->root + "/") != 0 ||
        !BytesToUtf16(CodePage::Utf8, path.c_str(), false, wide) || !file.Open(wide.c_str()))
        return Opened::Refused;
    return Opened::Yes;
}

FolderReader::Opened FolderReader::OpenInstalled(const std::wstring& name, CFileDX& file) const
{
    bool found = false;
    std::wstring wide;
    const std::string path = state_->Resolve(name, found);
    struct stat self;
    char real[PATH_MAX];
    // A symbolic link is what a reparse point is on Windows: no file of its own. A folder at the name is
    // something that stands there and cannot be read as a file, as Windows answers.
    if (found && lstat(path.c_str(), &self) == 0 && S_ISDIR(self.st_mode))
        return Opened::Refused;
    if (!found || state_->root.empty() || lstat(path.c_str(), &self) != 0 || !S_ISREG(self.st_mode) ||
        !realpath(path.c_str(), real) || std::string(real).compare(0, state_->root.size() + 1, state_->root + "/") != 0)
        return Opened::Missing;
    return BytesToUtf16(CodePage::Utf8, path.c_str(), false, wide) && file.Open(wide.c_str()) ? Opened::Yes
                                                                                              : Opened::Refused;
}

bool FolderReader::Exists(const std::wstring& name) const
{
    if (state_->folder.size() + 1 + name.size() >= kPathCapacity)
        return false;
    bool found = false;
    const std::string path = state_->Resolve(name, found);
    struct stat st;
    return found && stat(path.c_str(), &st) == 0;
}

bool FolderReader::IsReadOnly(const std::wstring& name) const
{
    bool found = false;
    const std::string path = state_->Resolve(name, found);
    struct stat st;
    // A file nobody may write is what Windows shows as read-only here.
    return found && stat(path.c_str(), &st) == 0 && !(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH));
}

std::wstring FolderReader::LongName(const std::wstring& name) const
{
    bool found = false;
    std::wstring listed = state_->folder;
    state_->Resolve(name, found, &listed);
    return listed;
}

FolderReader::FolderReader(std::unique_ptr<State> state) : state_(std::move(state)) {}

FolderReader::~FolderReader() = default;

std::unique_ptr<FolderReader> OpenFolderReader(const std::wstring& folder)
{
    std::unique_ptr<FolderReader::State> state(new FolderReader::State);
    state->folder = folder;
    char real[PATH_MAX];
    if (realpath(PosixPath(folder).c_str(), real))
        state->root = real;
    return std::unique_ptr<FolderReader>(new FolderReader(std::move(state)));
}
