// The installation folder as the package layer reads it: by names below it, with Windows' rules for
// names (any case; "\" and "/" alike), never writing. On Windows it is the system's own folder held by the
// run (util/held_folder_reader.h); elsewhere a folder read the same way (util/posix_folder_reader.h), so
// that a dry run on a build server decides as the updater would.
#pragma once
#include <string>

class CFileDX;

class FolderReader {
public:
    virtual ~FolderReader() = default;

    enum class Opened { Yes, Missing, Refused };
    // Opens the list at a single `name` in the folder itself for reading. Refused when something stands
    // there that cannot be opened, or that leads out of the folder (then it is neither read nor replaced).
    virtual Opened OpenList(const std::wstring& name, CFileDX& file) const = 0;
    // Opens the installed file at `name` for reading; false when there is none to read.
    virtual bool OpenInstalled(const std::wstring& name, CFileDX& file) const = 0;
    // True when a file or a folder stands at `name`. A name whose path does not fit the system's path
    // buffers counts as nothing.
    virtual bool Exists(const std::wstring& name) const = 0;
    // True when the file at `name` is read-only: Windows refuses to replace it, and so does the updater.
    virtual bool IsReadOnly(const std::wstring& name) const = 0;
    // The path `name` reaches, the folder's own path in front, each part that exists in the form it is
    // listed under (so that "ARCHIV~1\DATA01~1.ARC" and "Archive\data01200.arc" come out the same); parts
    // that do not exist keep their spelling.
    virtual std::wstring LongName(const std::wstring& name) const = 0;
};
