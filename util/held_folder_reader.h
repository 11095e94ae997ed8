// The installation folder read through the system: lists through the run's held folder handle, installed
// files and names by path.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <unordered_map>

#include "util/folder_reader.h"

class HeldFolderReader : public FolderReader {
public:
    // `folder` by its path; `held` and its final path `root` once the folder is held (null and empty
    // before: then no list can be opened).
    explicit HeldFolderReader(std::wstring folder, HANDLE held = nullptr, std::wstring root = std::wstring())
        : folder_(std::move(folder)), held_(held), root_(std::move(root))
    {
    }
    Opened OpenList(const std::wstring& name, CFileDX& file) const override;
    bool OpenInstalled(const std::wstring& name, CFileDX& file) const override;
    bool Exists(const std::wstring& name) const override;
    bool IsReadOnly(const std::wstring& name) const override;
    std::wstring LongName(const std::wstring& name) const override;

private:
    std::wstring folder_;
    HANDLE held_;
    std::wstring root_;
    // The folders LongName looked in, by path: each one's long path, and its names by NameKey, long and short.
    struct Listing {
        std::wstring longPath;
        std::unordered_map<std::wstring, std::wstring> names;
    };
    mutable std::map<std::wstring, Listing> listings_;
};
