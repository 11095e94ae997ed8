// The VCDIFF decoder. Layout read (RFC 3284, section 4), every length checked before use:
//   header   D6 C3 C4 00, indicator, [secondary id], [code table], [xdelta3's application header]
//   window   indicator, [source segment size, position], delta length, target size, delta indicator,
//            data length, instructions length, addresses length, [Adler-32], data, instructions, addresses
#include "delta/delta_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "delta/vcdiff.h"

namespace {

using namespace vcdiff;

// The most a window's encoding may take: each of its three sections can be at most a few bytes per target
// byte in any sane delta; more is damage, and the bound keeps a hostile length from allocating at will.
const uint64_t kMaxWindowEncoding = 4ull * kMaxTargetWindow + 1024;

bool Fail(DeltaResult& result, DeltaError error, const std::string& problem)
{
    result.error = error;
    result.problem = problem;
    return false;
}

// The delta read in order, byte by byte where the layout needs it.
class Reader {
public:
    explicit Reader(DeltaInput& input) : input_(input) {}
    // One byte; false at the end.
    bool Byte(unsigned char& b)
    {
        if (at_ == filled_) {
            filled_ = input_.Read(buffer_, sizeof buffer_);
            at_ = 0;
            if (filled_ == 0)
                return false;
        }
        b = buffer_[at_++];
        return true;
    }
    bool Bytes(unsigned char* out, uint64_t n)
    {
        while (n > 0) {
            if (at_ == filled_) {
                filled_ = input_.Read(buffer_, sizeof buffer_);
                at_ = 0;
                if (filled_ == 0)
                    return false;
            }
            const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(n, filled_ - at_));
            memcpy(out, buffer_ + at_, take);
            at_ += take;
            out += take;
            n -= take;
        }
        return true;
    }
    // A base-128 integer of at most `limit`.
    bool Integer(uint64_t& value, uint64_t limit)
    {
        value = 0;
        for (int i = 0; i < 10; ++i) {
            unsigned char b;
            if (!Byte(b) || value > (limit >> 7))
                return false;
            value = (value << 7) | (b & 0x7F);
            if (!(b & 0x80))
                return value <= limit;
        }
        return false;
    }
    bool Failed() const { return input_.Failed(); }

private:
    DeltaInput& input_;
    unsigned char buffer_[64 * 1024];
    uint32_t at_ = 0, filled_ = 0;
};

// A section of a window held in memory, read from its start.
struct Section {
    const unsigned char* at = nullptr;
    const unsigned char* end = nullptr;
    bool Byte(unsigned char& b)
    {
        if (at == end)
            return false;
        b = *at++;
        return true;
    }
    bool Integer(uint64_t& value, uint64_t limit)
    {
        value = 0;
        for (int i = 0; i < 10 && at < end; ++i) {
            const unsigned char b = *at++;
            if (value > (limit >> 7))
                return false;
            value = (value << 7) | (b & 0x7F);
            if (!(b & 0x80))
                return value <= limit;
        }
        return false;
    }
    bool Done() const { return at == end; }
};

bool ReadHeader(Reader& in, DeltaResult& result)
{
    unsigned char magic[4], indicator;
    if (!in.Bytes(magic, 4) || memcmp(magic, kMagic, 4) != 0 || !in.Byte(indicator))
        return Fail(result, DeltaError::Damaged, "not a VCDIFF delta (no D6 C3 C4 00 header)");
    if (indicator & kDecompress)
        return Fail(result, DeltaError::Unsupported,
                    "the delta's sections are compressed (VCD_DECOMPRESS, xdelta3's default): make it with "
                    "xdelta3 -S none");
    if (indicator & kCodeTable)
        return Fail(result, DeltaError::Unsupported, "the delta carries a custom code table (VCD_CODETABLE)");
    if (indicator & ~(kAppHeader))
        return Fail(result, DeltaError::Unsupported, "the delta's header sets indicator bits this decoder does not know");
    if (indicator & kAppHeader) {
        uint64_t length = 0;
        unsigned char skip;
        if (!in.Integer(length, kMaxWindowEncoding))
            return Fail(result, DeltaError::Damaged, "the delta's application header is damaged");
        for (uint64_t i = 0; i < length; ++i)
            if (!in.Byte(skip))
                return Fail(result, DeltaError::Damaged, "the delta ends inside its application header");
    }
    return true;
}

// One window: read whole (bounded), checked, executed into `target`.
class WindowDecoder {
public:
    // `checkWindows` false: the windows' Adler-32 are not compared (the base's bytes are not at hand).
    WindowDecoder(DeltaBase& base, DeltaResult& result, bool checkWindows = true)
        : base_(base), result_(result), checkWindows_(checkWindows) {}

    // False at the end of the delta (`ended`), or on a failure.
    bool Next(Reader& in, DeltaOutput& output, bool& ended)
    {
        ended = false;
        unsigned char indicator;
        if (!in.Byte(indicator)) {
            ended = !in.Failed();
            return ended ? false : Fail(result_, DeltaError::Io, "the delta cannot be read");
        }
        if (indicator & kTargetWindow)
            return Fail(result_, DeltaError::Unsupported, "the delta copies from earlier target windows (VCD_TARGET)");
        if (indicator & ~(kSourceWindow | kWindowChecksum))
            return Fail(result_, DeltaError::Unsupported, "a window sets indicator bits this decoder does not know");
        uint64_t segmentSize = 0, segmentPosition = 0, length = 0;
        if (indicator & kSourceWindow) {
            if (!in.Integer(segmentSize, UINT32_MAX) || !in.Integer(segmentPosition, UINT64_MAX >> 1))
                return Damaged("a window's source segment");
            if (segmentPosition > base_.Size() || segmentSize > base_.Size() - segmentPosition)
                return Fail(result_, DeltaError::WrongBase,
                            "a window copies from past the end of the base: the delta was made against another file");
        }
        if (!in.Integer(length, kMaxWindowEncoding))
            return Damaged("a window's length");
        std::vector<unsigned char> encoding(static_cast<size_t>(length));
        if (!in.Bytes(encoding.data(), length))
            return in.Failed() ? Fail(result_, DeltaError::Io, "the delta cannot be read")
                               : Damaged("a window (the delta ends inside it)");
        Encoding e;
        if (!ReadEncoding(encoding, indicator, length, e))
            return false;
        const uint64_t targetSize = e.targetSize;
        Section data = e.data, instructions = e.instructions, addresses = e.addresses;

        target_.resize(static_cast<size_t>(targetSize));
        segmentSize_ = segmentSize;
        segmentPosition_ = segmentPosition;
        produced_ = 0;
        cache_ = AddressCache();
        if (!Execute(data, instructions, addresses))
            return false;
        if (produced_ != targetSize || !data.Done() || !addresses.Done())
            return Damaged("a window (its instructions and its size disagree)");
        if (checkWindows_ && (indicator & kWindowChecksum) && Adler32(1, target_.data(), target_.size()) != e.expected)
            return Fail(result_, DeltaError::WrongBase,
                        "a window's checksum does not match: the delta does not fit this base, or is damaged");
        if (targetSize && !output.Write(target_.data(), static_cast<uint32_t>(targetSize)))
            return Fail(result_, DeltaError::Io, "the target cannot be written");
        result_.targetSize += targetSize;
        return true;
    }

private:
    // A window's delta encoding as its header lays it out: the target window's size, the Adler-32 it must
    // have when the indicator says the window carries one, and the three sections.
    struct Encoding {
        uint64_t targetSize = 0;
        uint32_t expected = 0;
        Section data, instructions, addresses;
    };

    // Reads the header of a window's delta encoding (`length` bytes) and finds its sections in it, each length
    // checked against what is there. False, with the problem in the result, when it does not add up.
    bool ReadEncoding(const std::vector<unsigned char>& encoding, unsigned char indicator, uint64_t length, Encoding& e)
    {
        Section header{encoding.data(), encoding.data() + encoding.size()};
        uint64_t dataLength = 0, instructionsLength = 0, addressesLength = 0;
        unsigned char deltaIndicator;
        if (!header.Integer(e.targetSize, UINT32_MAX) || !header.Byte(deltaIndicator) ||
            !header.Integer(dataLength, length) || !header.Integer(instructionsLength, length) ||
            !header.Integer(addressesLength, length))
            return Damaged("a window's header");
        if (e.targetSize > kMaxTargetWindow)
            return Fail(result_, DeltaError::Unsupported, "a target window is larger than 16 MiB");
        if (deltaIndicator != 0)
            return Fail(result_, DeltaError::Unsupported, "a window's sections are compressed");
        if (indicator & kWindowChecksum) {
            unsigned char sum[4];
            for (unsigned char& b : sum)
                if (!header.Byte(b))
                    return Damaged("a window's checksum");
            e.expected = (uint32_t{sum[0]} << 24) | (uint32_t{sum[1]} << 16) | (uint32_t{sum[2]} << 8) | sum[3];
        }
        if (static_cast<uint64_t>(header.end - header.at) != dataLength + instructionsLength + addressesLength)
            return Damaged("a window's section lengths");
        e.data = Section{header.at, header.at + dataLength};
        e.instructions = Section{e.data.end, e.data.end + instructionsLength};
        e.addresses = Section{e.instructions.end, e.instructions.end + addressesLength};
        return true;
    }

    bool Damaged(const std::string& what) { return Fail(result_, DeltaError::Damaged, "the delta is damaged: " + what); }

    bool Execute(Section& data, Section& instructions, Section& addresses)
    {
        const CodeEntry* table = DefaultCodeTable();
        unsigned char opcode;
        while (instructions.Byte(opcode)) {
            for (const Instruction& i : {table[opcode].first, table[opcode].second}) {
                if (i.type == kNoop)
                    continue;
                uint64_t size = i.size;
                if (size == 0 && !instructions.Integer(size, target_.size()))
                    return Damaged("an instruction's size");
                if (size > target_.size() - produced_)
                    return Damaged("an instruction runs past its window's target");
                const bool done = i.type == kAdd   ? Add(data, size)
                                  : i.type == kRun ? Run(data, size)
                                                   : Copy(addresses, i.mode, size);
                if (!done)
                    return false;
            }
        }
        return true;
    }

    bool Add(Section& data, uint64_t size)
    {
        if (static_cast<uint64_t>(data.end - data.at) < size)
            return Damaged("an ADD runs past the data section");
        if (size == 0)
            return true;  // an empty window's target has no storage to write to
        memcpy(target_.data() + produced_, data.at, static_cast<size_t>(size));
        data.at += size;
        produced_ += size;
        return true;
    }

    bool Run(Section& data, uint64_t size)
    {
        unsigned char b;
        if (!data.Byte(b))
            return Damaged("a RUN runs past the data section");
        if (size == 0)
            return true;
        memset(target_.data() + produced_, b, static_cast<size_t>(size));
        produced_ += size;
        return true;
    }

    bool Copy(Section& addresses, uint8_t mode, uint64_t size)
    {
        const uint64_t here = segmentSize_ + produced_;
        uint64_t address = 0, value = 0;
        if (mode == kSelf) {
            if (!addresses.Integer(address, here))
                return Damaged("a COPY's address");
        } else if (mode == kHere) {
            if (!addresses.Integer(value, here))
                return Damaged("a COPY's address");
            address = here - value;
        } else if (mode < 2 + kNearSlots) {
            if (!addresses.Integer(value, UINT64_MAX >> 1))
                return Damaged("a COPY's address");
            address = cache_.nearAddresses[mode - 2] + value;
        } else {
            unsigned char b;
            if (!addresses.Byte(b))
                return Damaged("a COPY's address");
            address = cache_.same[(mode - 2 - kNearSlots) * 256 + b];
        }
        // The address lies in the source segment or in what this window produced so far; a copy from the
        // target may run on into the bytes it produces itself.
        if (address >= here)
            return Damaged("a COPY from beyond what is there");
        cache_.Update(address);
        if (size == 0)
            return true;
        unsigned char* out = target_.data() + produced_;
        uint64_t left = size;
        if (address < segmentSize_) {
            const uint64_t fromBase = std::min<uint64_t>(left, segmentSize_ - address);
            if (!base_.ReadAt(segmentPosition_ + address, out, static_cast<uint32_t>(fromBase)))
                return Fail(result_, DeltaError::Io, "the base cannot be read");
            out += fromBase;
            left -= fromBase;
            address += fromBase;
        }
        if (left > 0) {  // the rest from the target, from a position below what is produced
            const unsigned char* from = target_.data() + (address - segmentSize_);
            for (uint64_t i = 0; i < left; ++i)
                out[i] = from[i];  // byte by byte: an overlapping copy repeats what it produces
        }
        produced_ += size;
        return true;
    }

    DeltaBase& base_;
    DeltaResult& result_;
    const bool checkWindows_;
    std::vector<unsigned char> target_;
    uint64_t segmentSize_ = 0, segmentPosition_ = 0, produced_ = 0;
    AddressCache cache_;
};

class MemoryBase : public DeltaBase {
public:
    explicit MemoryBase(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}
    uint64_t Size() const override { return bytes_.size(); }
    bool ReadAt(uint64_t offset, unsigned char* buffer, uint32_t size) override
    {
        if (offset > bytes_.size() || size > bytes_.size() - offset)
            return false;
        if (size > 0)  // an empty vector may have no storage at all
            memcpy(buffer, bytes_.data() + offset, size);
        return true;
    }

private:
    const std::vector<unsigned char>& bytes_;
};

// A base of zeros: the structure check's stand-in for bytes it does not have.
class ZeroBase : public DeltaBase {
public:
    explicit ZeroBase(uint64_t size) : size_(size) {}
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, unsigned char* buffer, uint32_t size) override
    {
        if (offset > size_ || size > size_ - offset)
            return false;
        memset(buffer, 0, size);
        return true;
    }

private:
    uint64_t size_;
};

// Counts what a walk produces and drops it; refuses to go past `limit` bytes.
class DiscardOutput : public DeltaOutput {
public:
    explicit DiscardOutput(uint64_t limit) : limit_(limit) {}
    bool Write(const unsigned char*, uint32_t size) override
    {
        if (size > limit_ - produced_) {
            overflowed_ = true;
            return false;
        }
        produced_ += size;
        return true;
    }
    bool Overflowed() const { return overflowed_; }

private:
    uint64_t limit_;
    uint64_t produced_ = 0;
    bool overflowed_ = false;
};

class MemoryInput : public DeltaInput {
public:
    explicit MemoryInput(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}
    uint32_t Read(unsigned char* buffer, uint32_t size) override
    {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(size, bytes_.size() - at_));
        if (n == 0)
            return 0;
        memcpy(buffer, bytes_.data() + at_, n);
        at_ += n;
        return n;
    }

private:
    const std::vector<unsigned char>& bytes_;
    size_t at_ = 0;
};

class MemoryOutput : public DeltaOutput {
public:
    explicit MemoryOutput(std::vector<unsigned char>& bytes) : bytes_(bytes) {}
    bool Write(const unsigned char* data, uint32_t size) override
    {
        bytes_.insert(bytes_.end(), data, data + size);
        return true;
    }

private:
    std::vector<unsigned char>& bytes_;
};

// Keeps where the last window's target stands: valid until the next window is decoded.
class WindowOutput : public DeltaOutput {
public:
    bool Write(const unsigned char* data, uint32_t size) override
    {
        this->data = data;
        this->size = size;
        return true;
    }
    const unsigned char* data = nullptr;
    uint32_t size = 0;
};

bool Decode(DeltaInput& delta, DeltaBase& base, DeltaOutput& output, DeltaResult& result, bool checkWindows)
{
    result = DeltaResult{};
    Reader in(delta);
    if (!ReadHeader(in, result))
        return false;
    WindowDecoder window(base, result, checkWindows);
    for (;;) {
        bool ended = false;
        if (!window.Next(in, output, ended))
            return ended;
    }
}

}  // namespace

bool ApplyDelta(const std::vector<unsigned char>& delta, const std::vector<unsigned char>& base,
                std::vector<unsigned char>& target, DeltaResult& result)
{
    MemoryOutput out(target);
    target.clear();
    return ApplyDelta(delta, base, out, result);
}

bool ApplyDelta(const std::vector<unsigned char>& delta, const std::vector<unsigned char>& base, DeltaOutput& output,
                DeltaResult& result)
{
    MemoryBase from(base);
    MemoryInput in(delta);
    return ApplyDelta(in, from, output, result);
}

bool ApplyDelta(DeltaInput& delta, DeltaBase& base, DeltaOutput& output, DeltaResult& result)
{
    return Decode(delta, base, output, result, true);
}

bool CheckDeltaStructure(DeltaInput& delta, uint64_t baseSize, DeltaResult& result, uint64_t targetLimit)
{
    ZeroBase base(baseSize);
    DiscardOutput output(targetLimit);
    if (Decode(delta, base, output, result, false))
        return true;
    if (output.Overflowed()) {
        result.error = DeltaError::Damaged;
        result.problem = "it produces more than the " + std::to_string(targetLimit) + " bytes of its target";
    }
    return false;
}

struct DeltaStream::State {
    State(DeltaInput& delta, DeltaBase& base) : in(delta), window(base, result) {}
    DeltaResult result;
    Reader in;
    WindowDecoder window;
    WindowOutput output;
    uint32_t at = 0;  // in the window's target
    bool started = false, ended = false;

    // The next window's target into `output`; false at the end of the delta (`ended`) or on a failure.
    bool NextWindow()
    {
        if (!started) {
            started = true;
            if (!ReadHeader(in, result))
                return false;
        }
        output = WindowOutput();
        at = 0;
        return window.Next(in, output, ended);
    }
};

DeltaStream::DeltaStream(DeltaInput& delta, DeltaBase& base) : state_(new State(delta, base)) {}

DeltaStream::~DeltaStream() = default;

bool DeltaStream::Read(unsigned char* buffer, uint32_t size)
{
    State& s = *state_;
    while (size > 0) {
        if (s.at == s.output.size) {
            if (!s.ended && !s.NextWindow() && !s.ended)
                return false;
            if (s.ended)
                return Fail(s.result, DeltaError::Damaged, "the delta is damaged: it gives fewer bytes than its target's");
            continue;
        }
        const uint32_t take = std::min(size, s.output.size - s.at);
        memcpy(buffer, s.output.data + s.at, take);
        s.at += take;
        buffer += take;
        size -= take;
    }
    return true;
}

bool DeltaStream::Finish()
{
    State& s = *state_;
    while (s.at == s.output.size && !s.ended) {
        if (!s.NextWindow())
            return s.ended;
    }
    return s.at == s.output.size ? true : Fail(s.result, DeltaError::Damaged, "the delta is damaged: it gives more bytes than its target's");
}

const DeltaResult& DeltaStream::Result() const { return state_->result; }
