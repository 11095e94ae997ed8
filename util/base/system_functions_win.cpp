// Run-time look-ups of system functions, from System32 only.
#include "util/base/system_functions_win.h"

#include <windows.h>

void* ResolveSystemFunction(const wchar_t* dll, const char* name)
{
    HMODULE module = GetModuleHandleW(dll);
    if (!module)
        module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
}
