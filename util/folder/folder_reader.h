// The installation folder as the package layer reads it: by names below it, with Windows' rules for
// names (any case; "\" and "/" alike), never writing. On Windows it is the system's own folder, held open and
// read through relative handles only (folder_reader_win.cpp); elsewhere a folder read the same way
// (folder_reader_posix.cpp), so that a dry run on a build server decides as the updater would.
#pragma once
#include <memory>
#include <string>

class CFileDX;

// The reader of one folder; its state is the system's (folder_reader_win.cpp, folder_reader_posix.cpp).
class FolderReader {
public:
    struct State;
    explicit FolderReader(std::unique_ptr<State> state);
    ~FolderReader();
    FolderReader(const FolderReader&) = delete;
    FolderReader& operator=(const FolderReader&) = delete;

    enum class Opened { Yes, Missing, Refused };
    // Opens the list at a single `name` in the folder itself for reading. Refused when something stands
    // there that cannot be opened, or that leads out of the folder, or that is a link of any kind (then it
    // is neither read nor replaced).
    Opened OpenList(const std::wstring& name, CFileDX& file) const;
    // Opens the installed file at `name` for reading, as the updater decides by bytes: Yes for a plain file of
    // its own inside the folder; Missing when nothing stands there, or a link of any kind, or a file leading
    // out of the folder (no file, for deciding); Refused when a file stands there that cannot be opened.
    Opened OpenInstalled(const std::wstring& name, CFileDX& file) const;
    // True when a file or a folder stands at `name`. A name whose path does not fit the system's path
    // buffers counts as nothing.
    bool Exists(const std::wstring& name) const;
    // True when the file at `name` is read-only: Windows refuses to replace it, and so does the updater.
    bool IsReadOnly(const std::wstring& name) const;
    // The path `name` reaches, the folder's own path in front, each part that exists in the form it is
    // listed under (so that "ARCHIV~1\DATA01~1.ARC" and "Archive\data01200.arc" come out the same); parts
    // that do not exist keep their spelling.
    std::wstring LongName(const std::wstring& name) const;

private:
    // What the Windows reader alone offers (folder_reader_win.h) reads its state.
    friend bool Listed(const FolderReader& reader, const std::wstring& name);
    std::unique_ptr<State> state_;
};

// The installation folder at `folder`. On Windows the reader holds the folder open for its life (and finds
// nothing in a folder it cannot hold); elsewhere it reads the folder with Windows' rules for names.
std::unique_ptr<FolderReader> OpenFolderReader(const std::wstring& folder);
