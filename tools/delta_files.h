// `mkupdate delta` and `mkupdate apply`: VCDIFF deltas between files on disk.
#pragma once
#include <string>
#include <vector>

// Exit codes: 0 done; 1 the delta is damaged, does not fit the base, or uses a feature the decoder refuses
// (`error` names it); 2 a file that is missing or cannot be read or written. The output is written under a
// temporary name and moved into place only when complete.
int MakeDeltaFile(const std::wstring& base, const std::wstring& target, const std::wstring& output, std::string& error);
int ApplyDeltaFile(const std::wstring& base, const std::wstring& delta, const std::wstring& output, std::string& error);

// Reads the file at `path` whole: 0; 2, with `error`, when it is missing, cannot be read, or is 4 GiB or more.
int ReadWholeFile(const std::wstring& path, std::vector<unsigned char>& bytes, std::string& error);
