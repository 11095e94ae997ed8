// The one decision whether a package is sound, taken before the first byte of it is copied. The updater
// and `mkupdate verify` both rely on it; only the checksums, which need the bytes, are checked later.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "update/package/package.h"

class FolderReader;

// Where each payload entry goes: the target below the installation folder ("\" separators only), or
// empty for the payload's own version list and delta table; the version record that verifies it, or
// kNoRecord; and, for a delta, its record in the delta table, or kNoDelta. A delta names the target it
// produces; a target with deltas may have its whole file too: those entries are one target's alternatives.
struct EntryTargets {
    std::vector<std::wstring> names;
    std::vector<int> records;
    std::vector<int> deltas;
};

// Reads the payload's version list and decides every entry's target. 0 when the package is sound;
// kResultDamaged with `problem` (UTF-8, one line) naming the first fault otherwise:
// - a "kpx.hvl" entry that is not a readable version list;
// - an entry whose data runs past the end of the file;
// - a target that could leave the installation folder, or that has no UTF-16 form;
// - two entries that reach one file, or one entry's target that is a name the updater writes beside
//   another ("<target>.tmp", "<target>.tmp.new", "<target>.kept") or beside the lists ("kpx.hvl.new",
//   "uninst.lst.new" and their ".new"), in any spelling Windows accepts: either separator, any case, and
//   (with a folder) the 8.3 names of files and folders that exist there;
// - a version record that no installed entry carries: the list would record a file never replaced;
// - a "kpx.dlt" entry that is not a delta table, a delta record whose entry is missing, or whose target has
//   no version record, or is 4 GiB or larger, or whose target checksum is not its version record's.
// `folder` may be null (no installation at hand): names are then compared as spelled.
uint32_t CheckUpdatePackage(UpdatePackage& package, const FolderReader* folder, EntryTargets& targets,
                            std::string& problem);

// The temporary file beside a target, "<target>.tmp", below `folder`. False when it does not fit.
bool TemporaryPath(const wchar_t* folder, const std::wstring& target, wchar_t* path);
