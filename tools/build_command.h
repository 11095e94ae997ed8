// mkupdate build: an updater made from the options, and the line that says what was written.
#pragma once
#include <cstddef>
#include <string>

#include "tools/package_builder.h"

struct BuildResult {
    bool written = false;
    std::string problem;  // when not written: the first problem, one line
    std::wstring output;
    size_t files = 0;    // the files given
    size_t leftOut = 0;  // of them, unchanged in every base: not shipped
};

// Makes the updater; prints nothing but the builder's own progress on stderr, which --quiet turns off.
BuildResult BuildCommand(const BuildOptions& options);

// What was written and how many files it ships, on stdout; nothing when it was not written.
void PrintBuildText(const BuildResult& result);
