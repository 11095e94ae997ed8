// A delta entry of the payload as the decoder reads it: its content in order (decompressed on the way when it is
// stored compressed), the content checksum taken on the way, so that the delta is verified by the bytes that
// were decoded. And a base file as the decoder reads it, by offset.
#pragma once
#include <cstdint>

#include "archive/checksum.h"
#include "delta/delta_decoder.h"

class EntryContent;

class CFileDX;

class DeltaEntryInput : public DeltaInput {
public:
    // `content` has begun (EntryContent::Begin).
    explicit DeltaEntryInput(EntryContent& content);
    uint32_t Read(unsigned char* buffer, uint32_t size) override;
    bool Failed() const override { return failed_; }
    // Reads what the decoder left (nothing, for a sound delta) into the checksum, and ends the entry's content
    // (EntryContent::Finish). False when the entry runs short or its stored bytes are damaged.
    bool Finish(unsigned char* buffer, uint32_t capacity);
    uint64_t Checksum() const { return StoredChecksum(checksum_); }

private:
    EntryContent& content_;
    uint32_t left_;
    bool failed_ = false;
    ContentChecksum checksum_{};
};

// An open base file, read by offset through its own handle.
class DeltaFileBase : public DeltaBase {
public:
    DeltaFileBase(CFileDX& file, uint64_t size) : file_(file), size_(size) {}
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, unsigned char* buffer, uint32_t size) override;

private:
    CFileDX& file_;
    uint64_t size_;
};
