// The POSIX side of file.h: CFileDX holds a file descriptor, none being -1.
#pragma once

using FileHandle = int;  // a file descriptor
inline FileHandle NoFileHandle() { return -1; }
