// The POSIX side of paths.h: how a UTF-16 path of this system's own spelling reaches the system.
#pragma once
#include <string>

// A path as this system takes it: UTF-8, with "\" read as the separator it is on Windows.
std::string PosixPath(const std::wstring& path);
