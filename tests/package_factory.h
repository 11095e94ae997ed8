// Making updater files and game installations for the tests, byte by byte, including damaged ones
// that the package builder would refuse to make.
#pragma once
#include <string>
#include <vector>

#include "archive/version_list.h"
#include "tests/testing_support.h"

struct FakeEntry {
    std::string name;  // bytes as stored in the index
    Bytes data;
};

uint64_t ChecksumOf(const Bytes& data);
Bytes RandomBytes(size_t size, unsigned seed);
// Install paths that would leave the installation folder (parents, drives, streams, separators in front,
// UNC paths, device names): every suite that takes names from a package refuses the same list.
extern const std::vector<std::string> kHostileNames;
// The file-name part of such a name, as an entry matching its version record would carry it.
std::string HostileFileName(const std::string& name);

// A "KHV_V2__" (or "KHV_____") list with these records, names stored as given.
Bytes MakeVersionList(const std::vector<VersionRecord>& records, bool version2 = true);
// An updater file: zeros, the title block at 0xA0000, a "VORLAN ARC20" payload of these entries at 0xA0400.
Bytes MakeUpdater(const std::vector<FakeEntry>& entries, const std::string& title = "Test Updater ver 1.01");

// The shipped update in small: "KPX.hvl" and archives installed under "Archive\", each with its checksum.
struct SampleUpdate {
    std::vector<FakeEntry> entries;  // the version list first, then the archives
    std::vector<std::string> targets;  // "Archive\<name>" per archive
};
SampleUpdate MakeSampleUpdate(int archives, size_t sizeEach = 3000, unsigned seed = 7);

// A delta update: for each target "Archive\<name>", a delta from each of its bases ("KPX.dlt.000" on) and,
// with `full` (or without bases), the whole file; the version list and the delta table.
struct DeltaTarget {
    std::string name;
    std::vector<Bytes> bases;
    Bytes target;
    bool full;
};
std::vector<FakeEntry> MakeDeltaEntries(const std::vector<DeltaTarget>& targets);
inline std::vector<FakeEntry> MakeDeltaEntries(const std::string& name, const std::vector<Bytes>& bases,
                                               const Bytes& target, bool full)
{
    return MakeDeltaEntries({{name, bases, target, full}});
}

// A game installation: "Archive\" with old archives, "kpx.hvl" naming them, "uninst.lst".
void MakeInstallation(const std::wstring& folder, const std::vector<std::string>& oldArchives);

#if defined(_WIN32)
// The game's registration in this prefix: HKLM\Software\Kovo\<title>, value "InstalledFolder" (REG_SZ).
bool RegisterInstallation(const std::wstring& folder);
// The same with the value's bytes exactly as given (for values without a terminator).
bool SetInstalledFolderValue(const void* data, uint32_t bytes);
void ForgetInstallation();
#endif
