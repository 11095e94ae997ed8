// Looking through an open folder handle at a single name, holding folders, and the final paths that prove
// where a handle leads.
#include "util/fs/relative_reads_win.h"

#include <vector>

#include "util/base/handles_win.h"
#include "util/fs/file.h"
#include "util/fs/file_ops_win.h"
#include "util/text/code_page.h"

// A game folder may lie deeper than MAX_PATH allows a plain path. The path is made whole first, as the
// system makes a plain one.
std::wstring ExtendedPath(const std::wstring& path)
{
    if (path.compare(0, 4, L"\\\\?\\") == 0 || path.compare(0, 4, L"\\\\.\\") == 0)
        return path;
    std::vector<wchar_t> full(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr) + 1);
    const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0 || n >= full.size())
        return path;
    const std::wstring whole(full.data(), n);
    if (whole.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + whole.substr(2);
    return whole.size() >= 3 && whole[1] == L':' && whole[2] == L'\\' ? L"\\\\?\\" + whole : path;
}

HANDLE HoldFolder(HANDLE parent, const std::wstring& name)
{
    const DWORD access = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;  // no FILE_SHARE_DELETE: it cannot move
    if (!parent) {
        // The folder as named: where it leads is what its final path says.
        HANDLE h = CreateFileW(ExtendedPath(name).c_str(), access | SYNCHRONIZE, share, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        return h == INVALID_HANDLE_VALUE ? nullptr : h;
    }
    return OpenRelative(parent, name, access, share, false, RelativeKind::Folder);
}

bool HoldFolderAt(const wchar_t* folder, UniqueHandle& held, std::wstring& root)
{
    held.Reset(HoldFolder(nullptr, folder));
    if (held.IsValid() && FinalPathOf(held.Get(), root))
        return true;
    held.Reset(nullptr);
    return false;
}

HANDLE LookUpIn(HANDLE folder, const std::wstring& name)
{
    return OpenRelative(folder, name, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES, kShareAll, false,
                        RelativeKind::Folder, LinkRule::Followed);
}

DWORD AttributesIn(HANDLE folder, const std::wstring& name)
{
    // Asking for attributes conflicts with nobody's sharing, as a query by path would not. (Wine's
    // NtQueryAttributesFile ignores the folder a name is relative to.)
    const UniqueHandle h(OpenRelative(folder, name, FILE_READ_ATTRIBUTES, kShareAll, false, RelativeKind::Either));
    return h.IsValid() ? AttributesOf(h.Get()) : INVALID_FILE_ATTRIBUTES;
}

HANDLE OpenFileIn(HANDLE folder, const std::wstring& name, DWORD access, DWORD share)
{
    return OpenRelative(folder, name, access, share, false, RelativeKind::File);
}

DWORD AttributesOf(HANDLE file)
{
    FILE_BASIC_INFO info;
    return GetFileInformationByHandleEx(file, FileBasicInfo, &info, sizeof info) ? info.FileAttributes
                                                                                 : INVALID_FILE_ATTRIBUTES;
}

bool FinalPathOf(HANDLE handle, std::wstring& path)
{
    // A path below a deep game folder can be longer than MAX_PATH: the system says how much room it needs.
    std::vector<wchar_t> buffer(1024);
    for (;;) {
        const DWORD n = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0)
            break;
        if (n < buffer.size()) {
            path.assign(buffer.data(), n);
            return true;
        }
        buffer.resize(n + 1);
    }
    // Wine answers nothing for a path of MAX_PATH or more, whatever the room; the object's own name is the
    // same path, in the same form.
    return ObjectPathOf(handle, path);
}

bool IsHandleInside(HANDLE handle, const std::wstring& root)
{
    std::wstring path;
    if (root.empty() || !FinalPathOf(handle, path))
        return false;
    const size_t n = root.back() == L'\\' ? root.size() - 1 : root.size();  // a drive root ends with one
    return path.size() > n + 1 && path[n] == L'\\' && SameTextIgnoringCase(path.data(), n, root.data(), n);
}

int OpenIn(CFileDX& file, HANDLE folder, const std::wstring& name)
{
    return !file.IsOpen() && file.Adopt(OpenFileIn(folder, name, GENERIC_READ, FILE_SHARE_READ)) ? 1 : 0;
}

bool IsInside(CFileDX& file, const std::wstring& root) { return file.IsOpen() && IsHandleInside(file.Handle(), root); }

bool IsItselfAt(CFileDX& file, const std::wstring& path)
{
    std::wstring final;
    const DWORD attributes = file.IsOpen() ? AttributesOf(file.Handle()) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           FinalPathOf(file.Handle(), final) && SameTextIgnoringCase(final, path);
}

bool IsItselfIn(HANDLE file, HANDLE folder, const std::wstring& name)
{
    std::wstring folderPath, final;
    const DWORD attributes = AttributesOf(file);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !FinalPathOf(folder, folderPath) || !FinalPathOf(file, final))
        return false;
    if (folderPath.empty() || folderPath.back() != L'\\')
        folderPath += L'\\';
    return SameTextIgnoringCase(final, folderPath + name);
}
