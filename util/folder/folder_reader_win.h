// What the installation folder's reader offers on Windows alone: a folder the caller holds, read through its
// handle, and names found in the folders' listings.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "util/folder/folder_reader.h"

// A folder the caller holds: `held` its handle, `root` its final path (util/fs/relative_reads_win.h's
// HoldFolderAt). The reader reads through the handle and never closes it.
std::unique_ptr<FolderReader> ReadHeldFolder(const std::wstring& folder, HANDLE held, const std::wstring& root);
// True when the folders' listings, each taken once, hold `name`: cheaper than asking the system for a name
// that is usually missing, but only as fresh as the listing.
bool Listed(const FolderReader& reader, const std::wstring& name);
