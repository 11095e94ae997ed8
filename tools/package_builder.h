// Making an updater file: the bare program image, a title block and a payload archive of shipped files.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/zstd_frame_writer.h"

// The compression levels `build --compress` takes (tools/zstd_frame_writer.h): zstd's 1 to 19, whose windows
// the updater's decoder accepts. 19 by default: a package is built once and downloaded by every player, and
// the updater decodes every level at about the same speed.
// An entry is stored compressed only when its frame is at least this much smaller than its content: below
// that, the frame would cost every player a decoding for nothing.
const unsigned kCompressionMarginPercent = 1;

struct ShippedFile {
    std::wstring source;  // where the builder reads it
    std::wstring target;  // where the updater installs it, relative to the installation folder
};

struct BuildOptions {
    std::wstring image;  // the linked updater program
    std::string title;   // UTF-8
    std::vector<ShippedFile> files;
    std::wstring output;
    bool progress = false;  // report large inputs on stderr
    // A delta package: each shipped file also as a delta against each distinct content these earlier
    // versions' folders hold at its path, the whole file only where needed or with keepFull.
    std::vector<std::wstring> bases;
    bool keepFull = false;
    // A compressed package: every whole file and delta stored as one zstd frame when that is at least
    // kCompressionMarginPercent smaller, at this level.
    bool compress = false;
    int level = kDefaultCompressionLevel;
    bool levelGiven = false;
};

// Adds every file below `root` (recursively), each to be installed under its path relative to `root`.
// False with a message when the folder cannot be read.
bool CollectFolder(const std::wstring& root, std::vector<ShippedFile>& files, std::string& error);

// Checks everything first and writes nothing when a check fails; writes the output under a temporary
// name and moves it into place only when complete. False with a one-line message on any failure.
// `leftOut`, when given, gets how many files were not shipped because every base holds them already.
bool BuildUpdater(const BuildOptions& options, std::string& error, size_t* leftOut = nullptr);
