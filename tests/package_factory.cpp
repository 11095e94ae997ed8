// Updater files and installations for the tests.
#include "tests/package_factory.h"

#include <cstdio>
#include <cstring>
#include <random>

#include "archive/checksum.h"
#include "archive/delta_table.h"
#include "delta/delta_encoder.h"
#include "archive/read_le.h"
#include "update/package/package_layout.h"

uint64_t ChecksumOf(const Bytes& data)
{
    ContentChecksum c{};
    UpdateContentChecksum(c, data.data(), static_cast<uint32_t>(data.size()));
    return StoredChecksum(c);
}

Bytes RandomBytes(size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes b(size);
    for (auto& x : b)
        x = static_cast<uint8_t>(rng());
    return b;
}

Bytes MakeVersionList(const std::vector<VersionRecord>& records, bool version2)
{
    const size_t size = version2 ? 256 : 64;
    Bytes out(16 + records.size() * size, 0);
    memcpy(out.data(), version2 ? "KHV_V2__" : "KHV_____", 8);
    WriteU32(out.data() + 12, static_cast<uint32_t>(records.size()));
    for (size_t i = 0; i < records.size(); ++i) {
        unsigned char* rec = out.data() + 16 + i * size;
        memcpy(rec, records[i].name.data(), std::min(records[i].name.size(), size - 9));
        WriteU64(rec + size - 8, records[i].value);
    }
    return out;
}

Bytes MakeUpdater(const std::vector<FakeEntry>& entries, const std::string& title)
{
    Bytes out(kPayloadOffset, 0);
    memcpy(out.data() + kTitleBlockOffset, title.data(), std::min<size_t>(title.size(), kTitleBlockSize - 1));
    Bytes index(16 + entries.size() * 128, 0);
    memcpy(index.data(), "VORLAN ARC20", 12);
    WriteU32(index.data() + 12, static_cast<uint32_t>(entries.size()));
    uint32_t offset = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        unsigned char* rec = index.data() + 16 + i * 128;
        memcpy(rec, entries[i].name.data(), std::min<size_t>(entries[i].name.size(), 95));
        WriteU32(rec + 96, offset);
        WriteU32(rec + 100, static_cast<uint32_t>(entries[i].data.size()));
        offset += static_cast<uint32_t>(entries[i].data.size());
    }
    out.insert(out.end(), index.begin(), index.end());
    for (const FakeEntry& e : entries)
        out.insert(out.end(), e.data.begin(), e.data.end());
    return out;
}

SampleUpdate MakeSampleUpdate(int archives, size_t sizeEach, unsigned seed)
{
    SampleUpdate s;
    std::vector<VersionRecord> records;
    std::vector<FakeEntry> files;
    for (int i = 0; i < archives; ++i) {
        char name[32];
        snprintf(name, sizeof name, "data0%d00.arc", 12 + i);
        files.push_back({name, RandomBytes(sizeEach + i, seed + i)});
        s.targets.push_back(std::string("Archive\\") + name);
        records.push_back({s.targets.back(), ChecksumOf(files.back().data)});
    }
    s.entries.push_back({"KPX.hvl", MakeVersionList(records)});
    s.entries.insert(s.entries.end(), files.begin(), files.end());
    return s;
}

std::vector<FakeEntry> MakeDeltaEntries(const std::vector<DeltaTarget>& targets)
{
    std::vector<VersionRecord> records;
    std::vector<DeltaRecord> table;
    std::vector<FakeEntry> entries(1);
    for (const DeltaTarget& t : targets) {
        const std::string targetName = "Archive\\" + t.name;
        records.push_back({targetName, ChecksumOf(t.target)});
        for (const Bytes& base : t.bases) {
            const Bytes delta = MakeDelta(base.data(), base.size(), t.target.data(), t.target.size());
            char entry[16];
            snprintf(entry, sizeof entry, "KPX.dlt.%03u", static_cast<unsigned>(table.size()));
            table.push_back({targetName, entry, base.size(), ChecksumOf(base), ChecksumOf(delta), t.target.size(),
                             ChecksumOf(t.target)});
            entries.push_back({entry, delta});
        }
        if (t.full || t.bases.empty())
            entries.push_back({t.name, t.target});
    }
    entries[0] = {"KPX.hvl", MakeVersionList(records)};
    Bytes tableBytes;
    EncodeDeltaTable(table, tableBytes);
    entries.push_back({"KPX.dlt", tableBytes});
    return entries;
}

void MakeInstallation(const std::wstring& folder, const std::vector<std::string>& oldArchives)
{
    MakeDir(folder + L"\\Archive");
    std::vector<VersionRecord> records;
    std::string uninst;
    for (size_t i = 0; i < oldArchives.size(); ++i) {
        Bytes old = RandomBytes(500 + i, 900 + static_cast<unsigned>(i));
        std::wstring name(oldArchives[i].begin(), oldArchives[i].end());
        WriteBytes(folder + L"\\Archive\\" + name, old);
        records.push_back({"Archive\\" + oldArchives[i], ChecksumOf(old)});
        uninst += "Archive\\" + oldArchives[i] + "\r\n";
    }
    WriteBytes(folder + L"\\kpx.hvl", MakeVersionList(records));
    WriteText(folder + L"\\uninst.lst", uninst + "kpx.hvl\r\n$folder\r\n");
}

#if defined(_WIN32)
#include <windows.h>

namespace {
const wchar_t kGameKey[] = L"Software\\Kovo\\\u785D\u5B50\u306E\u7FBD\u3092\u6570\u3048\u3066";
}

bool SetInstalledFolderValue(const void* data, uint32_t bytes)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kGameKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const bool ok =
        RegSetValueExW(key, L"InstalledFolder", 0, REG_SZ, static_cast<const BYTE*>(data), bytes) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

bool RegisterInstallation(const std::wstring& folder)
{
    return SetInstalledFolderValue(folder.c_str(), static_cast<uint32_t>((folder.size() + 1) * sizeof(wchar_t)));
}

void ForgetInstallation() { RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kGameKey, L"InstalledFolder"); }
#endif

const std::vector<std::string> kHostileNames = {
    "..\\x.arc", "..\\..\\x.arc", "C:\\x.arc", "C:x.arc", "x.arc:stream", "a:b.arc", "\\x.arc", "/x.arc", "CON",
    "NUL.arc", "COM1", "LPT1.txt", "Archive\\..\\..\\x.arc", "\\\\server\\share\\x.arc"};

std::string HostileFileName(const std::string& name)
{
    const std::string file = name.substr(name.find_last_of("\\/:") + 1);
    return file.empty() ? "x.arc" : file;
}
