// Writing a tool's output so that it is never seen half-written: under "<output>.partial", forced to the
// disk, then moved over the output; nothing is left behind on failure.
#pragma once
#include <functional>
#include <string>

class CFileDX;

// Calls `write` with the partial file open; false (and `error` set, by `write` or here) when it fails, when
// the file cannot be created, forced to the disk or moved into place.
// `what` names the output in the messages ("updater", "delta").
// `check`, when given, reads the finished partial file (by its path) before it is moved into place.
bool WriteThroughPartial(const std::wstring& output, const char* what,
                         const std::function<bool(CFileDX&, std::string&)>& write, std::string& error,
                         const std::function<bool(const std::wstring&, std::string&)>& check = nullptr);
