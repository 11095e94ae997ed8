// VCDIFF deltas between files: the base read by offset, the delta in order, the output written whole.
#include "tools/delta_files.h"

#include <vector>

#include "delta/delta_decoder.h"
#include "delta/delta_encoder.h"
#include "tools/output_file.h"
#include "update/package/delta_entry.h"
#include "util/fs/file.h"
#include "util/fs/paths.h"
#include "util/text/encoding.h"

namespace {

class FileInput : public DeltaInput {
public:
    FileInput(CFileDX& file, uint64_t size) : file_(file), left_(size) {}
    uint32_t Read(unsigned char* buffer, uint32_t size) override
    {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(size, left_));
        if (n == 0)
            return 0;
        const uint32_t got = file_.Read(buffer, n);
        failed_ = got != n;
        left_ -= got;
        return failed_ ? 0 : got;
    }
    bool Failed() const override { return failed_; }

private:
    CFileDX& file_;
    uint64_t left_;
    bool failed_ = false;
};

class FileOutput : public DeltaOutput {
public:
    explicit FileOutput(CFileDX& file) : file_(file) {}
    bool Write(const unsigned char* data, uint32_t size) override { return file_.Write(data, size) == size; }

private:
    CFileDX& file_;
};

// Opens an input file; 2 with `error` when it is missing or cannot be opened.
int OpenInput(const std::wstring& path, CFileDX& file, uint64_t& size, std::string& error)
{
    if (!FileSizeOf(path, size) || !file.Open(path.c_str())) {
        error = "cannot read \"" + ToUtf8(path) + "\"";
        return 2;
    }
    return 0;
}

}  // namespace

int ReadWholeFile(const std::wstring& path, std::vector<unsigned char>& bytes, std::string& error)
{
    CFileDX file;
    uint64_t size = 0;
    if (const int code = OpenInput(path, file, size, error))
        return code;
    if (size >= 0xFFFFFFFFu) {
        error = "\"" + ToUtf8(path) + "\" is 4 GiB or more";
        return 2;
    }
    bytes.resize(static_cast<size_t>(size));
    for (size_t at = 0; at < bytes.size();) {
        const uint32_t n = file.Read(bytes.data() + at, static_cast<uint32_t>(std::min<size_t>(bytes.size() - at, 1u << 24)));
        if (n == 0) {
            error = "cannot read \"" + ToUtf8(path) + "\"";
            return 2;
        }
        at += n;
    }
    return 0;
}

int MakeDeltaFile(const std::wstring& base, const std::wstring& target, const std::wstring& output, std::string& error)
{
    std::vector<unsigned char> baseBytes, targetBytes;
    if (const int code = ReadWholeFile(base, baseBytes, error))
        return code;
    if (const int code = ReadWholeFile(target, targetBytes, error))
        return code;
    const std::vector<unsigned char> delta = MakeDelta(baseBytes.data(), baseBytes.size(), targetBytes.data(), targetBytes.size());
    const bool written = WriteThroughPartial(output, "delta", [&](CFileDX& out, std::string& problem) {
        for (size_t at = 0; at < delta.size();) {
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(delta.size() - at, 1u << 24));
            if (out.Write(delta.data() + at, n) != n) {
                problem = "cannot write \"" + ToUtf8(output) + "\"";
                return false;
            }
            at += n;
        }
        return true;
    }, error);
    return written ? 0 : 2;
}

int ApplyDeltaFile(const std::wstring& base, const std::wstring& delta, const std::wstring& output, std::string& error)
{
    CFileDX baseFile, deltaFile;
    uint64_t baseSize = 0, deltaSize = 0;
    if (const int code = OpenInput(base, baseFile, baseSize, error))
        return code;
    if (const int code = OpenInput(delta, deltaFile, deltaSize, error))
        return code;
    DeltaFileBase from(baseFile, baseSize);
    FileInput in(deltaFile, deltaSize);
    DeltaResult result;
    const bool applied = WriteThroughPartial(output, "file", [&](CFileDX& out, std::string& problem) {
        FileOutput to(out);
        if (ApplyDelta(in, from, to, result))
            return true;
        problem = result.problem;
        return false;
    }, error);
    if (applied)
        return 0;
    return result.error == DeltaError::None || result.error == DeltaError::Io ? 2 : 1;
}
