// Installation folder lookup in the machine's registry, in the process's own (64-bit) view.
#include "install/installed_folder_win.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>

#include "util/base/handles_win.h"
#include "util/text/strings.h"

int GetInstalledFolder(wchar_t* folder, const wchar_t* vendor, const wchar_t* title)
{
    if (!vendor || !title)
        return 0;
    wchar_t buffer[4096];
    if (FormatWide(buffer, 4096, L"Software\\%s\\%s", vendor, title) < 0)
        return 0;
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, buffer, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS)
        return 0;

    int result = 0;
    DWORD type = 0;
    DWORD size = sizeof buffer;
    if (RegQueryValueExW(key.Get(), L"InstalledFolder", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ) {
        // The data need not hold a terminator: the size the query returned bounds it.
        size_t n = wcsnlen(buffer, size / sizeof(wchar_t));
        const wchar_t* start = buffer;
        if (n >= 2 && buffer[0] == L'"' && buffer[n - 1] == L'"') {
            ++start;
            n -= 2;
        }
        if (n < kFolderCapacity) {
            wmemcpy(folder, start, n);
            folder[n] = L'\0';
            result = 1;
        }
    }
    return result;
}

bool IsAbsoluteFolder(const wchar_t* folder)
{
    const bool drive = iswalpha(folder[0]) && folder[1] == L':' && (folder[2] == L'\\' || folder[2] == L'/');
    const bool unc = folder[0] == L'\\' && folder[1] == L'\\' && folder[2] != L'\0';
    return drive || unc;
}
