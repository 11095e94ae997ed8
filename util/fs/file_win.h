// The Windows side of file.h: CFileDX holds a HANDLE, none being INVALID_HANDLE_VALUE.
#pragma once
#include <cstdint>

using FileHandle = void*;  // a HANDLE
inline FileHandle NoFileHandle() { return reinterpret_cast<FileHandle>(static_cast<intptr_t>(-1)); }
