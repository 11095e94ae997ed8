// Reading the installation folder through its held handle: names resolved part by part, relative opens only.
#include "util/folder/folder_reader_win.h"

#include <windows.h>

#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

#include "util/base/handles_win.h"
#include "util/fs/file.h"
#include "util/fs/relative_path.h"
#include "util/fs/relative_reads_win.h"

namespace {

// The key of the subfolder `parts` lead to: its first `count` parts, found as one file is (RelativePathKey).
std::wstring KeyOf(const std::vector<std::wstring>& parts, size_t count)
{
    std::wstring path;
    for (size_t i = 0; i < count; ++i)
        path += (i ? L"\\" : L"") + parts[i];
    return RelativePathKey(path);
}

}  // namespace

// The folder's path, its held handle and final path, and what the reader has learnt of its subfolders.
struct FolderReader::State {
    State(std::wstring path, HANDLE handle, std::wstring finalPath)
        : folder(std::move(path)), held(handle), root(std::move(finalPath))
    {
    }
    // A subfolder looked in, by the key of its path below the folder: its handle and, once listed, its
    // names by key, long and short, each to its long form.
    struct Subfolder {
        UniqueHandle handle;
        bool listed = false;
        std::unordered_map<std::wstring, std::wstring> names;
    };
    // The subfolder `parts` lead to, opened (and kept) on the way; null when one of them is not there.
    HANDLE FolderAt(const std::vector<std::wstring>& parts, size_t count);
    Subfolder& Listed(const std::vector<std::wstring>& parts, size_t count, HANDLE in);
    // The attributes of what stands at `name`, or INVALID_FILE_ATTRIBUTES.
    DWORD AttributesAt(const std::wstring& name);

    std::wstring folder;
    HANDLE held;  // null: nothing is there to read
    std::wstring root;
    UniqueHandle own;  // the held folder, when the reader holds it itself
    std::map<std::wstring, Subfolder> subfolders;
};

HANDLE FolderReader::State::FolderAt(const std::vector<std::wstring>& parts, size_t count)
{
    HANDLE folder = held;
    for (size_t i = 0; folder && i < count; ++i) {
        Subfolder& sub = subfolders[KeyOf(parts, i + 1)];
        if (!sub.handle.IsValid())
            sub.handle.Reset(LookUpIn(folder, parts[i]));
        folder = sub.handle.Get();
    }
    return folder;
}

FolderReader::State::Subfolder& FolderReader::State::Listed(const std::vector<std::wstring>& parts, size_t count,
                                                            HANDLE in)
{
    Subfolder& sub = subfolders[KeyOf(parts, count)];
    if (sub.listed)
        return sub;
    sub.listed = true;
    const size_t size = 64 * 1024;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[size]);
    for (FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
         GetFileInformationByHandleEx(in, kind, buffer.get(), size); kind = FileIdBothDirectoryInfo) {
        for (size_t at = 0;;) {
            const auto* item = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.get() + at);
            const std::wstring name(item->FileName, item->FileNameLength / sizeof(wchar_t));
            const std::wstring shortName(item->ShortName, item->ShortNameLength / sizeof(wchar_t));
            // The first of two names that differ only in case wins, as it would in a search.
            sub.names.emplace(RelativePathKey(name), name);
            if (!shortName.empty())
                sub.names.emplace(RelativePathKey(shortName), name);
            if (!item->NextEntryOffset)
                break;
            at += item->NextEntryOffset;
        }
    }
    return sub;
}

// A list that is a link of any kind is neither read nor replaced: Windows reads a link opened as itself as
// empty (a list rewritten from that would lose every line), and Wine reads what it leads to, inside the
// folder or out. The list must be the folder's own file: no reparse point, its final path the folder's
// own entry.
FolderReader::Opened FolderReader::OpenList(const std::wstring& name, CFileDX& file) const
{
    const State& s = *state_;
    if (!s.held || !OpenIn(file, s.held, name))
        return s.held && IsNotFound(GetLastError()) ? Opened::Missing : Opened::Refused;
    if (IsItselfAt(file, s.root + (!s.root.empty() && s.root.back() == L'\\' ? L"" : L"\\") + name))
        return Opened::Yes;
    file.Close();
    return Opened::Refused;
}

// An installed file's bytes, for `mkupdate plan` and the updater's early word: opened by a single name below
// the subfolder held on the way, and only when it is a file of its own there (no link, inside the folder).
FolderReader::Opened FolderReader::OpenInstalled(const std::wstring& name, CFileDX& file) const
{
    std::vector<std::wstring> parts;
    if (!RelativePathParts(name, parts))
        return Opened::Missing;
    const HANDLE folder = state_->FolderAt(parts, parts.size() - 1);
    if (!folder)
        return Opened::Missing;
    if (!OpenIn(file, folder, parts.back()))
        return IsNotFound(GetLastError()) ? Opened::Missing : Opened::Refused;
    if (!IsInside(file, state_->root) || !IsItselfIn(file.Handle(), folder, parts.back())) {
        file.Close();
        return Opened::Missing;
    }
    return Opened::Yes;
}

DWORD FolderReader::State::AttributesAt(const std::wstring& name)
{
    std::vector<std::wstring> parts;
    if (!RelativePathParts(name, parts))
        return INVALID_FILE_ATTRIBUTES;
    const HANDLE in = FolderAt(parts, parts.size() - 1);
    return in ? AttributesIn(in, parts.back()) : INVALID_FILE_ATTRIBUTES;
}

bool FolderReader::Exists(const std::wstring& name) const { return state_->AttributesAt(name) != INVALID_FILE_ATTRIBUTES; }

bool FolderReader::IsReadOnly(const std::wstring& name) const
{
    const DWORD attributes = state_->AttributesAt(name);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

// A package's checks ask for several names in each folder: every target and the names written beside it,
// most of them missing. Each folder is listed once, and a part is then found in the listing by its long or
// its short (8.3) name, as the system's search finds it: a few hundred names cost a few listings.
std::wstring FolderReader::LongName(const std::wstring& name) const
{
    State& s = *state_;
    std::vector<std::wstring> parts;
    if (!RelativePathParts(name, parts))
        return s.folder + L"\\" + name;
    std::wstring path = s.folder;
    HANDLE folder = s.held;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (folder) {
            const State::Subfolder& listed = s.Listed(parts, i, folder);
            const auto found = listed.names.find(RelativePathKey(parts[i]));
            if (found != listed.names.end())
                parts[i] = found->second;
            else
                folder = nullptr;  // what is not there keeps its spelling, and so does all below it
        }
        path += L"\\" + parts[i];
        if (folder && i + 1 < parts.size())
            folder = s.FolderAt(parts, i + 1);
    }
    return path;
}

bool Listed(const FolderReader& reader, const std::wstring& name)
{
    FolderReader::State& s = *reader.state_;
    std::vector<std::wstring> parts;
    if (!RelativePathParts(name, parts))
        return false;
    HANDLE folder = s.held;
    for (size_t i = 0; folder && i < parts.size(); ++i) {
        const FolderReader::State::Subfolder& listed = s.Listed(parts, i, folder);
        if (listed.names.find(RelativePathKey(parts[i])) == listed.names.end())
            return false;
        if (i + 1 < parts.size())
            folder = s.FolderAt(parts, i + 1);
    }
    return folder != nullptr;
}

FolderReader::FolderReader(std::unique_ptr<State> state) : state_(std::move(state)) {}

FolderReader::~FolderReader() = default;

std::unique_ptr<FolderReader> OpenFolderReader(const std::wstring& folder)
{
    std::unique_ptr<FolderReader::State> state(new FolderReader::State(folder, nullptr, std::wstring()));
    if (HoldFolderAt(folder.c_str(), state->own, state->root))
        state->held = state->own.Get();
    return std::unique_ptr<FolderReader>(new FolderReader(std::move(state)));
}

std::unique_ptr<FolderReader> ReadHeldFolder(const std::wstring& folder, HANDLE held, const std::wstring& root)
{
    return std::unique_ptr<FolderReader>(new FolderReader(std::unique_ptr<FolderReader::State>(new FolderReader::State(folder, held, root))));
}
