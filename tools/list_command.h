// mkupdate list: what an updater carries, read as the updater reads it, and its report as text and as JSON.
#pragma once
#include <string>

#include "tools/command_options.h"
#include "tools/package_reader.h"

struct ListResult {
    std::wstring updater;
    std::string problem;       // why the file is not an updater the program could open; empty when it is
    UpdaterContents contents;  // with no problem
};

// Reads the updater `options` name; prints nothing.
ListResult ListCommand(const ReadOptions& options);

// The title, the certificate, the entries, the version records and the deltas, on stdout; nothing for a
// refused file.
void PrintListText(const ListResult& result);
// One JSON document, without a line end: the verdict alone for a refused file.
std::string ListJson(const ListResult& result);
