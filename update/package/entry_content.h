// A payload entry's content as the updater and the tools read it: in order from the entry's first stored byte,
// a chunk at a time, decompressed on the way when the compression table names the entry. The stored bytes of
// a compressed entry are checksummed as they are read, against the table's record.
#pragma once
#include <cstdint>
#include <string>

#include "archive/checksum.h"
#include "compress/zstd_frame_reader.h"
#include "update/package/package.h"

class EntryContent {
public:
    // `frames` reads a compressed entry (one reader serves a whole run, entry after entry); it may be null for
    // a stored entry.
    EntryContent(UpdatePackage& package, const ArchiveEntry& entry, ZstdFrameReader* frames);
    EntryContent(const EntryContent&) = delete;
    EntryContent& operator=(const EntryContent&) = delete;

    // Positions the package file on the entry's first stored byte; false when it cannot, or when the entry is
    // compressed and there is no frame reader.
    bool Begin();
    // Exactly `size` bytes of content, or false: the package ran short, or the stored bytes are damaged.
    bool Read(unsigned char* bytes, uint32_t size);
    // Once the whole content is read: true when the entry's stored bytes end there and are sound (a compressed
    // entry's frame ended with its own checksum right, and its stored bytes have the table's checksum).
    bool Finish();
    uint32_t Size() const { return contentSize_; }
    // True when `checksum`, the content's as the caller took it, is the one the compression table records for
    // it (a stored entry's content is checked by its version record alone). It matters where no version record
    // names the entry; where one does, the package checks hold the two equal.
    bool ContentMatches(uint64_t checksum) const { return !record_ || checksum == record_->contentChecksum; }
    bool Compressed() const { return record_ != nullptr; }
    // What was wrong, for the tools' messages; empty while nothing was.
    const std::string& Problem() const { return problem_; }

private:
    uint32_t ReadStored(unsigned char* bytes, uint32_t size);
    std::string FrameProblem() const;

    UpdatePackage& package_;
    const ArchiveEntry& entry_;
    ZstdFrameReader* frames_;
    StoredBytesSource source_;  // the frame reader's, for as long as it reads this entry
    const CompressionRecord* record_;
    uint32_t contentSize_;
    uint32_t storedLeft_ = 0;
    bool readFailed_ = false;
    ContentChecksum stored_{};
    std::string problem_;
};
