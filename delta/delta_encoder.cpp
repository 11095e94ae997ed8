// The VCDIFF encoder: a hash index of the base's blocks, greedy matches, then each window's instructions
// written with the default code table and the address mode that takes fewest bytes.
#include "delta/delta_encoder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "delta/vcdiff.h"

namespace {

using namespace vcdiff;

// Matches are found by blocks of this many bytes; the base is indexed at every block boundary.
const size_t kBlock = 32;
// A run of one byte shorter than this is cheaper as data.
const size_t kMinRun = 8;

void PutInteger(std::vector<unsigned char>& out, uint64_t value)
{
    unsigned char bytes[10];
    int n = 0;
    do {
        bytes[n++] = static_cast<unsigned char>(value & 0x7F);
        value >>= 7;
    } while (value);
    while (n-- > 0)
        out.push_back(static_cast<unsigned char>(bytes[n] | (n ? 0x80 : 0)));
}

size_t IntegerSize(uint64_t value)
{
    size_t n = 1;
    while (value >>= 7)
        ++n;
    return n;
}

// A polynomial hash of kBlock bytes, rolled one byte at a time.
const uint32_t kMultiplier = 0x01000193;
uint32_t Power()
{
    uint32_t p = 1;
    for (size_t i = 0; i < kBlock; ++i)
        p *= kMultiplier;
    return p;
}
uint32_t HashOf(const unsigned char* p)
{
    uint32_t h = 0;
    for (size_t i = 0; i < kBlock; ++i)
        h = h * kMultiplier + p[i];
    return h;
}

// Positions by hash, in a table of a power of two slots; a slot keeps the first position put in it.
class BlockIndex {
public:
    explicit BlockIndex(size_t blocks)
    {
        size_t slots = 1024;
        while (slots < blocks * 2)
            slots *= 2;
        slots_.assign(slots, 0);
    }
    void Put(uint32_t hash, uint64_t position)
    {
        uint64_t& slot = slots_[Slot(hash)];
        if (!slot)
            slot = position + 1;
    }
    // A position put under this hash's slot, or -1.
    int64_t Find(uint32_t hash) const { return static_cast<int64_t>(slots_[Slot(hash)]) - 1; }
    void Clear() { std::fill(slots_.begin(), slots_.end(), 0); }

private:
    size_t Slot(uint32_t hash) const { return (hash * 0x9E3779B1u) & (slots_.size() - 1); }
    std::vector<uint64_t> slots_;
};

struct Op {
    InstructionType type;
    uint64_t size;
    uint64_t from;      // ADD and RUN: offset in the target; COPY: offset in the base, or in the target
    bool fromTarget;    // COPY from earlier in this window
};

class Encoder {
public:
    Encoder(const unsigned char* base, size_t baseSize, const unsigned char* target, size_t targetSize)
        : base_(base), baseSize_(baseSize), target_(target), targetSize_(targetSize),
          baseIndex_(baseSize / kBlock), windowIndex_(std::min<size_t>(targetSize, kEncoderWindow) / kBlock), power_(Power())
    {
        for (size_t at = 0; at + kBlock <= baseSize; at += kBlock)
            baseIndex_.Put(HashOf(base + at), at);
    }

    std::vector<unsigned char> Encode()
    {
        std::vector<unsigned char> out(kMagic, kMagic + 4);
        out.push_back(0);  // no secondary compression, no code table, no application header
        for (size_t start = 0; start < targetSize_ || start == 0; start += kEncoderWindow) {
            const size_t end = std::min(targetSize_, start + kEncoderWindow);
            WriteWindow(out, start, end, Match(start, end));
            if (end == targetSize_)
                break;
        }
        return out;
    }

private:
    // The match at target position `at` (within [floor, end)) from `candidate` in `source` (whose bytes
    // from `sourceFloor` to `sourceEnd` may be copied), extended both ways; its size is 0 when the blocks
    // differ.
    struct Found {
        uint64_t from = 0, at = 0, size = 0;
        bool fromTarget = false;
    };
    Found Extend(const unsigned char* source, uint64_t sourceFloor, uint64_t sourceEnd, uint64_t candidate, size_t at,
                 size_t floor, size_t end, bool fromTarget) const
    {
        Found f;
        if (candidate + kBlock > sourceEnd || memcmp(source + candidate, target_ + at, kBlock) != 0)
            return f;
        uint64_t forward = kBlock;
        while (at + forward < end && candidate + forward < sourceEnd &&
               source[candidate + forward] == target_[at + forward])
            ++forward;
        uint64_t back = 0;
        while (at - back > floor && candidate - back > sourceFloor && source[candidate - back - 1] == target_[at - back - 1])
            ++back;
        f.from = candidate - back;
        f.at = at - back;
        f.size = forward + back;
        f.fromTarget = fromTarget;
        return f;
    }

    std::vector<Op> Match(size_t start, size_t end)
    {
        std::vector<Op> ops;
        windowIndex_.Clear();
        size_t literal = start;  // the first target byte not yet covered
        auto addLiteral = [&](size_t upTo) {
            if (upTo > literal)
                ops.push_back({kAdd, upTo - literal, literal, false});
            literal = upTo;
        };
        size_t at = start;
        uint32_t hash = end - start >= kBlock ? HashOf(target_ + start) : 0;
        while (at + kBlock <= end) {
            // A run of one byte.
            size_t run = 0;
            while (at + run < end && target_[at + run] == target_[at])
                ++run;
            if (run >= kMinRun) {
                addLiteral(at);
                ops.push_back({kRun, run, at, false});
                at += run;
                literal = at;
                if (at + kBlock <= end)
                    hash = HashOf(target_ + at);
                continue;
            }
            Found best;
            const int64_t inBase = baseIndex_.Find(hash);
            if (inBase >= 0)
                best = Extend(base_, 0, baseSize_, static_cast<uint64_t>(inBase), at, literal, end, false);
            const int64_t inWindow = windowIndex_.Find(hash);
            if (inWindow >= 0) {
                // Within the window the copy's source must lie before its target.
                const Found f = Extend(target_, start, at, static_cast<uint64_t>(inWindow), at, literal, end, true);
                if (f.size > best.size)
                    best = f;
            }
            if ((at - start) % kBlock == 0)
                windowIndex_.Put(hash, at);
            if (best.size >= kBlock) {
                addLiteral(best.at);
                ops.push_back({kCopy, best.size, best.from, best.fromTarget});
                at = best.at + best.size;
                literal = at;
                if (at + kBlock <= end)
                    hash = HashOf(target_ + at);
                continue;
            }
            if (at + kBlock < end)
                hash = hash * kMultiplier + target_[at + kBlock] - power_ * target_[at];
            ++at;
        }
        addLiteral(end);
        return ops;
    }

    // The opcode of a single instruction and whether its size follows.
    static unsigned char SingleOpcode(const Op& op, uint8_t mode, bool& sizeFollows)
    {
        sizeFollows = false;
        if (op.type == kRun) {
            sizeFollows = true;
            return 0;
        }
        if (op.type == kAdd) {
            if (op.size >= 1 && op.size <= 17)
                return static_cast<unsigned char>(1 + op.size);
            sizeFollows = true;
            return 1;
        }
        const unsigned base = 19 + 16u * mode;
        if (op.size >= 4 && op.size <= 18)
            return static_cast<unsigned char>(base + op.size - 3);
        sizeFollows = true;
        return static_cast<unsigned char>(base);
    }

    // The address of a COPY in the string U (source segment, then this window's target) in the mode that
    // takes fewest bytes; the caches updated as the decoder will update them.
    static uint8_t ChooseMode(AddressCache& cache, uint64_t address, uint64_t here, std::vector<unsigned char>& out)
    {
        uint8_t mode = kSelf;
        uint64_t value = address;
        size_t cost = IntegerSize(address);
        if (IntegerSize(here - address) < cost) {
            mode = kHere;
            value = here - address;
            cost = IntegerSize(value);
        }
        for (uint8_t i = 0; i < kNearSlots; ++i) {
            if (address >= cache.nearAddresses[i] && IntegerSize(address - cache.nearAddresses[i]) < cost) {
                mode = static_cast<uint8_t>(2 + i);
                value = address - cache.nearAddresses[i];
                cost = IntegerSize(value);
            }
        }
        const uint64_t sameSlot = address % (kSameSlots * 256);
        if (cost > 1 && cache.same[sameSlot] == address) {
            mode = static_cast<uint8_t>(2 + kNearSlots + sameSlot / 256);
            out.push_back(static_cast<unsigned char>(sameSlot % 256));
        } else {
            PutInteger(out, value);
        }
        cache.Update(address);
        return mode;
    }

    // The three sections of a window's delta encoding, in the RFC's order.
    struct Sections {
        std::vector<unsigned char> data, instructions, addresses;
    };

    // The window [start, end)'s operations in the default code table, against its source segment (the part of
    // the base it copies from): each an opcode, its size after it where the table has none, its bytes in the
    // data section and a COPY's address in the address section. An ADD of 1-4 bytes and the COPY after it share
    // an opcode where the default table has one.
    Sections EncodeOps(size_t start, const std::vector<Op>& ops, uint64_t segmentPosition, uint64_t segmentSize)
    {
        Sections sections;
        std::vector<unsigned char>& data = sections.data;
        std::vector<unsigned char>& instructions = sections.instructions;
        std::vector<unsigned char>& addresses = sections.addresses;
        AddressCache cache;
        uint64_t produced = 0;
        for (size_t i = 0; i < ops.size(); ++i) {
            const Op& op = ops[i];
            uint8_t mode = 0;
            std::vector<unsigned char> address;
            if (op.type == kCopy) {
                const uint64_t u = op.fromTarget ? segmentSize + (op.from - start) : op.from - segmentPosition;
                mode = ChooseMode(cache, u, segmentSize + produced, address);
            }
            // An ADD of 1-4 bytes and the COPY after it share an opcode where the default table has one.
            const Op* next = i + 1 < ops.size() ? &ops[i + 1] : nullptr;
            if (op.type == kAdd && op.size <= 4 && next && next->type == kCopy) {
                std::vector<unsigned char> nextAddress;
                AddressCache after = cache;
                const uint64_t u = next->fromTarget ? segmentSize + (next->from - start) : next->from - segmentPosition;
                const uint8_t nextMode = ChooseMode(after, u, segmentSize + produced + op.size, nextAddress);
                const bool near6 = nextMode < 6 && next->size >= 4 && next->size <= 6;
                const bool same4 = nextMode >= 6 && next->size == 4;
                if (near6 || same4) {
                    const unsigned opcode = near6 ? 163 + nextMode * 12u + (op.size - 1) * 3u + (next->size - 4)
                                                  : 235 + (nextMode - 6) * 4u + (op.size - 1);
                    instructions.push_back(static_cast<unsigned char>(opcode));
                    data.insert(data.end(), target_ + op.from, target_ + op.from + op.size);
                    addresses.insert(addresses.end(), nextAddress.begin(), nextAddress.end());
                    cache = after;
                    produced += op.size + next->size;
                    ++i;
                    continue;
                }
            }
            bool sizeFollows = false;
            instructions.push_back(SingleOpcode(op, mode, sizeFollows));
            if (sizeFollows)
                PutInteger(instructions, op.size);
            if (op.type == kAdd)
                data.insert(data.end(), target_ + op.from, target_ + op.from + op.size);
            else if (op.type == kRun)
                data.push_back(target_[op.from]);
            else
                addresses.insert(addresses.end(), address.begin(), address.end());
            produced += op.size;
        }
        return sections;
    }

    // Appends the target's window [start, end): its indicator, the source segment it copies from, its
    // lengths and Adler-32, then its sections.
    void WriteWindow(std::vector<unsigned char>& out, size_t start, size_t end, const std::vector<Op>& ops)
    {
        // The source segment: the part of the base this window copies from.
        uint64_t low = UINT64_MAX, high = 0;
        for (const Op& op : ops) {
            if (op.type == kCopy && !op.fromTarget) {
                low = std::min(low, op.from);
                high = std::max(high, op.from + op.size);
            }
        }
        const bool hasSource = high > 0;
        const uint64_t segmentPosition = hasSource ? low : 0, segmentSize = hasSource ? high - low : 0;
        const Sections sections = EncodeOps(start, ops, segmentPosition, segmentSize);
        const std::vector<unsigned char>& data = sections.data;
        const std::vector<unsigned char>& instructions = sections.instructions;
        const std::vector<unsigned char>& addresses = sections.addresses;
        const size_t targetSize = end - start;
        const uint32_t adler = Adler32(1, target_ + start, targetSize);
        std::vector<unsigned char> encoding;
        PutInteger(encoding, targetSize);
        encoding.push_back(0);  // no section is compressed
        PutInteger(encoding, data.size());
        PutInteger(encoding, instructions.size());
        PutInteger(encoding, addresses.size());
        for (int shift = 24; shift >= 0; shift -= 8)
            encoding.push_back(static_cast<unsigned char>(adler >> shift));
        out.push_back(static_cast<unsigned char>((hasSource ? kSourceWindow : 0) | kWindowChecksum));
        if (hasSource) {
            PutInteger(out, segmentSize);
            PutInteger(out, segmentPosition);
        }
        PutInteger(out, encoding.size() + data.size() + instructions.size() + addresses.size());
        out.insert(out.end(), encoding.begin(), encoding.end());
        out.insert(out.end(), data.begin(), data.end());
        out.insert(out.end(), instructions.begin(), instructions.end());
        out.insert(out.end(), addresses.begin(), addresses.end());
    }

    const unsigned char* base_;
    size_t baseSize_;
    const unsigned char* target_;
    size_t targetSize_;
    BlockIndex baseIndex_, windowIndex_;
    uint32_t power_;
};

}  // namespace

std::vector<unsigned char> MakeDelta(const unsigned char* base, size_t baseSize, const unsigned char* target,
                                     size_t targetSize)
{
    return Encoder(base, baseSize, target, targetSize).Encode();
}
