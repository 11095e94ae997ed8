// mkupdate delta and apply: a VCDIFF delta made or applied, and the line that says what was written.
#pragma once
#include <cstdint>
#include <string>

#include "tools/command_options.h"

struct DeltaFileResult {
    int code = 0;         // as tools/delta_files.h: 0 written; 1 the delta is damaged, does not fit its base or
                          // uses a feature the decoder refuses; 2 a file is missing or cannot be read or written
    std::string problem;  // with a code other than 0
    std::wstring output;
    uint64_t size = 0;  // of the file written
};

// Makes or applies the delta; prints nothing.
DeltaFileResult DeltaCommand(const DeltaOptions& options);

// What was written and its size, on stdout; nothing when it was not written.
void PrintDeltaText(const DeltaFileResult& result);
