// The deltas of a delta package: for one shipped file, a VCDIFF delta against each distinct content the
// earlier versions' folders hold at its path, each checked with the updater's own decoder.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "archive/delta_table.h"
#include "tools/package_builder.h"

struct PlannedDelta {
    DeltaRecord record;  // `entry` left for the caller to name
    std::vector<unsigned char> bytes;
};

struct TargetDeltas {
    uint64_t size = 0;
    uint64_t checksum = 0;  // the new content's, stored form
    bool full = true;       // the whole file ships too
    bool unchanged = false;  // every base holds the new content already: nothing ships for it
    std::vector<PlannedDelta> deltas;
};

// Plans the deltas of `file` (installed as `targetUtf8`) against every folder of `bases`: the file at the same
// path in any case and either separator, one delta per distinct content. The whole file ships too when a base
// lacks it, when a delta would not be smaller than 90 % of it, or with `keepFull`; a base that holds the new
// content already needs no delta. False, with `error`, when a file cannot be read or a delta does not give
// the file back through the decoder.
bool PlanTargetDeltas(const ShippedFile& file, const std::string& targetUtf8, const std::vector<std::wstring>& bases,
                      bool keepFull, TargetDeltas& out, std::string& error);

// The file at `relative` ("\" or "/" separators) below `folder`, each part matched as Windows matches names
// (any case). False when there is none.
bool FindInFolder(const std::wstring& folder, const std::wstring& relative, std::wstring& path);
