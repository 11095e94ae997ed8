// The update driver: copies and verifies every payload entry, installs them, and updates the lists.
#pragma once
#include <cstdint>

// Applies the update carried by this program's own file to the installation folder, driving the progress
// dialog in g_hProgressDlg and honouring g_cancelRequested and g_abortRequested. Returns a result code of
// update/package.h. Every temporary file is removed before it returns.
uint32_t RunUpdate(const wchar_t* folder);
// The same with the package read from `packagePath` (null: this program's own file).
uint32_t RunUpdateFromPackage(const wchar_t* folder, const wchar_t* packagePath);
