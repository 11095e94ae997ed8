// VCDIFF (RFC 3284): the magic, the indicator bits, the default code table and the window checksum that
// the decoder and the encoder share.
#pragma once
#include <cstddef>
#include <cstdint>

namespace vcdiff {

const unsigned char kMagic[4] = {0xD6, 0xC3, 0xC4, 0x00};
// The header's indicator: a secondary compressor's id follows; a custom code table follows; an application
// header follows (xdelta3's: a length, then its bytes).
const unsigned char kDecompress = 0x01, kCodeTable = 0x02, kAppHeader = 0x04;
// A window's indicator: copies may come from the source; from earlier target output; xdelta3's Adler-32 of
// the window's target follows the three section lengths.
const unsigned char kSourceWindow = 0x01, kTargetWindow = 0x02, kWindowChecksum = 0x04;

// The largest target window either side takes (xdelta3's largest), and the largest the encoder writes.
const uint32_t kMaxTargetWindow = 16u << 20;
const uint32_t kEncoderWindow = 4u << 20;

enum InstructionType : uint8_t { kNoop = 0, kAdd = 1, kRun = 2, kCopy = 3 };
// Address modes: SELF, HERE, four NEAR and three SAME.
const uint8_t kSelf = 0, kHere = 1, kNearSlots = 4, kSameSlots = 3;
const uint8_t kModes = 2 + kNearSlots + kSameSlots;

struct Instruction {
    uint8_t type = kNoop;
    uint8_t size = 0;  // 0: the size follows in the instruction section
    uint8_t mode = 0;  // COPY only
};
struct CodeEntry {
    Instruction first, second;
};
// The RFC's default code table, by opcode.
const CodeEntry* DefaultCodeTable();

// The address caches, emptied at the start of every window and updated after every COPY.
struct AddressCache {
    uint64_t nearAddresses[kNearSlots] = {};
    unsigned nextSlot = 0;
    uint64_t same[kSameSlots * 256] = {};
    void Update(uint64_t address)
    {
        nearAddresses[nextSlot] = address;
        nextSlot = (nextSlot + 1) % kNearSlots;
        same[address % (kSameSlots * 256)] = address;
    }
};

// Adler-32 as xdelta3 takes it of each window's target (starting from 1).
uint32_t Adler32(uint32_t adler, const unsigned char* data, size_t size);

}  // namespace vcdiff
