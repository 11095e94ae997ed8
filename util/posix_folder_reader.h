// A folder on a POSIX system read as Windows reads the installation folder: a name's parts are found in
// any case, "\" and "/" alike, so that a dry run on a build server decides as the updater would.
#pragma once
#include <string>

#include "util/folder_reader.h"

class PosixFolderReader : public FolderReader {
public:
    explicit PosixFolderReader(std::wstring folder);
    Opened OpenList(const std::wstring& name, CFileDX& file) const override;
    bool OpenInstalled(const std::wstring& name, CFileDX& file) const override;
    bool Exists(const std::wstring& name) const override;
    bool IsReadOnly(const std::wstring& name) const override;
    std::wstring LongName(const std::wstring& name) const override;

private:
    // The path `name` reaches as this system spells it; `found` tells whether every part was there.
    std::string Resolve(const std::wstring& name, bool& found, std::wstring* listed = nullptr) const;
    std::wstring folder_;
    std::string root_;  // the folder's real path, links resolved
};
