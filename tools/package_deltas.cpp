// Making and checking the deltas of a delta package. The files are read whole: the encoder indexes the
// whole base so that an inner file that moved within an archive is still found.
#include "tools/package_deltas.h"

#include <algorithm>

#include "archive/checksum.h"
#include "delta/delta_decoder.h"
#include "delta/delta_encoder.h"
#include "tools/delta_files.h"
#include "util/fs/file.h"
#include "util/fs/paths.h"
#include "util/fs/relative_path.h"
#include "util/text/encoding.h"

namespace {

uint64_t ChecksumOf(const std::vector<unsigned char>& bytes)
{
    ContentChecksum checksum{};
    for (size_t at = 0; at < bytes.size(); at += 1u << 24)
        UpdateContentChecksum(checksum, bytes.data() + at, static_cast<uint32_t>(std::min<size_t>(bytes.size() - at, 1u << 24)));
    return StoredChecksum(checksum);
}

// Compares what the decoder produces with the file, a window at a time, so that no second copy is held.
class CompareOutput : public DeltaOutput {
public:
    explicit CompareOutput(const std::vector<unsigned char>& expected) : expected_(expected) {}
    bool Write(const unsigned char* data, uint32_t size) override
    {
        if (size > expected_.size() - at_ || !std::equal(data, data + size, expected_.begin() + static_cast<std::ptrdiff_t>(at_)))
            return false;
        at_ += size;
        return true;
    }
    bool Complete() const { return at_ == expected_.size(); }

private:
    const std::vector<unsigned char>& expected_;
    size_t at_ = 0;
};

// True when the updater's decoder turns `base` into `target` with `delta`.
bool GivesBack(const std::vector<unsigned char>& delta, const std::vector<unsigned char>& base,
               const std::vector<unsigned char>& target, DeltaResult& result)
{
    CompareOutput out(target);
    return ApplyDelta(delta, base, out, result) && out.Complete();
}

}  // namespace

bool FindInFolder(const std::wstring& folder, const std::wstring& relative, std::wstring& path)
{
    std::wstring at = folder;
    // The path found is spelled in the form the folder was given in: "/" on Linux, "\" on Windows.
    const wchar_t separator = folder.find(L'/') != std::wstring::npos && folder.find(L'\\') == std::wstring::npos ? L'/' : L'\\';
    size_t start = 0;
    while (start <= relative.size()) {
        const size_t end = std::min(relative.find_first_of(L"\\/", start), relative.size());
        const std::wstring part = relative.substr(start, end - start);
        const bool last = end == relative.size();
        std::vector<FolderItem> items;
        if (part.empty() || !ListFolder(at, items))
            return false;
        // An exact match first: a folder may hold names that differ in case alone on this system.
        auto found = std::find_if(items.begin(), items.end(), [&](const FolderItem& i) { return i.name == part; });
        if (found == items.end())
            found = std::find_if(items.begin(), items.end(), [&](const FolderItem& i) {
                // A POSIX name that holds a "\\" is no single part Windows could open.
                return i.name.find(L'\\') == std::wstring::npos && SameRelativePath(i.name, part);
            });
        if (found == items.end() || found->folder != !last)
            return false;
        at += separator + found->name;
        start = end + 1;
    }
    path = at;
    return true;
}

bool PlanTargetDeltas(const ShippedFile& file, const std::string& targetUtf8, const std::vector<std::wstring>& bases,
                      bool keepFull, TargetDeltas& out, std::string& error)
{
    std::vector<unsigned char> target;
    if (ReadWholeFile(file.source, target, error) != 0)
        return false;
    out = TargetDeltas();
    out.size = target.size();
    out.checksum = ChecksumOf(target);
    out.full = keepFull;
    out.unchanged = true;
    for (const std::wstring& folder : bases) {
        std::wstring path;
        if (!FindInFolder(folder, file.target, path)) {
            out.full = true;  // an installation of this version has nothing to patch
            out.unchanged = false;
            continue;
        }
        std::vector<unsigned char> base;
        if (ReadWholeFile(path, base, error) != 0)
            return false;
        const uint64_t baseChecksum = ChecksumOf(base);
        if (base.size() == target.size() && baseChecksum == out.checksum)
            continue;  // installed already, nothing to ship for it
        out.unchanged = false;
        const bool known = std::any_of(out.deltas.begin(), out.deltas.end(), [&](const PlannedDelta& d) {
            return d.record.baseSize == base.size() && d.record.baseChecksum == baseChecksum;
        });
        if (known)
            continue;
        PlannedDelta d;
        d.bytes = MakeDelta(base.data(), base.size(), target.data(), target.size());
        // The updater's own decoder must give the file back, or the package would refuse every installation.
        DeltaResult result;
        if (!GivesBack(d.bytes, base, target, result)) {
            error = "the delta of \"" + targetUtf8 + "\" against \"" + ToUtf8(path) + "\" does not give the file back" +
                    (result.problem.empty() ? "" : ": " + result.problem);
            return false;
        }
        if (static_cast<uint64_t>(d.bytes.size()) * 10 >= static_cast<uint64_t>(target.size()) * 9) {
            out.full = true;  // no gain: this base takes the whole file
            continue;
        }
        d.record.target = targetUtf8;
        d.record.baseSize = base.size();
        d.record.baseChecksum = baseChecksum;
        d.record.deltaChecksum = ChecksumOf(d.bytes);
        d.record.targetSize = target.size();
        d.record.targetChecksum = out.checksum;
        out.deltas.push_back(std::move(d));
    }
    // A file every base holds as it is, is no part of the update unless whole files are asked for.
    if (out.unchanged && !keepFull)
        out.full = false;
    else if (out.deltas.empty())
        out.full = true;
    return true;
}
