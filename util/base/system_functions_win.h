// The functions the program finds at run time rather than importing: ntdll's, which mingw-w64 has no import
// library entry for, and those a system may lack (then the caller does without). Every such look-up goes
// through here, and the test updater_imports holds each name to the import allow-list
// (cmake/updater_imports.txt) as if it were imported, each call spelled with the DLL and the name as literals.
#pragma once

// The address of `name` in `dll`, one of the DLLs Windows always loads from System32 ("ntdll.dll",
// "kernel32.dll", "comctl32.dll"); a DLL not loaded yet is loaded from System32 alone and stays loaded.
// Null when the DLL or the function is missing.
void* ResolveSystemFunction(const wchar_t* dll, const char* name);

template <typename F>
F ResolveSystem(void* address)
{
    return reinterpret_cast<F>(address);
}
