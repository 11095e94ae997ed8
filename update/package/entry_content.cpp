// Reading an entry's content, stored or compressed.
#include "update/package/entry_content.h"

#include "util/fs/file.h"

EntryContent::EntryContent(UpdatePackage& package, const ArchiveEntry& entry, ZstdFrameReader* frames)
    : package_(package), entry_(entry), frames_(frames), record_(nullptr), contentSize_(ContentSize(package, entry))
{
    const int c = CompressionRecordOf(package, entry.name);
    if (c != kStoredAsIs)
        record_ = &package.compressed[c];
}

bool EntryContent::Begin()
{
    storedLeft_ = StoredSize(entry_);
    readFailed_ = false;
    stored_ = ContentChecksum{};
    problem_.clear();
    if (!SeekToEntry(package_, entry_)) {
        problem_ = "cannot be read";
        return false;
    }
    if (!record_)
        return true;
    if (!frames_ || !frames_->Ready()) {
        problem_ = "cannot be decompressed (no memory for the decoder)";
        return false;
    }
    source_ = [this](unsigned char* bytes, uint32_t size) { return ReadStored(bytes, size); };
    frames_->Begin(source_, contentSize_);
    return true;
}

std::string EntryContent::FrameProblem() const
{
    const char* problem = frames_->Problem();
    return std::string("its zstd frame is damaged: ") + (problem ? problem : "it does not decode");
}

uint32_t EntryContent::ReadStored(unsigned char* bytes, uint32_t size)
{
    const uint32_t n = size < storedLeft_ ? size : storedLeft_;
    if (n == 0 || readFailed_)
        return 0;
    if (package_.file.Read(bytes, n) != n) {
        readFailed_ = true;
        return 0;
    }
    storedLeft_ -= n;
    if (record_)  // a stored entry's bytes are its content, which the caller checks
        UpdateContentChecksum(stored_, bytes, n);
    return n;
}

bool EntryContent::Read(unsigned char* bytes, uint32_t size)
{
    if (!record_) {
        if (ReadStored(bytes, size) == size)
            return true;
        problem_ = "cannot be read";
        return false;
    }
    if (frames_->Read(bytes, size))
        return true;
    problem_ = readFailed_ ? "cannot be read" : FrameProblem();
    return false;
}

bool EntryContent::Finish()
{
    if (!record_) {
        if (storedLeft_ == 0)
            return true;
        problem_ = "cannot be read";
        return false;
    }
    if (!frames_->Finish()) {
        problem_ = readFailed_ ? "cannot be read" : FrameProblem();
        return false;
    }
    if (storedLeft_ != 0 || StoredChecksum(stored_) != record_->storedChecksum) {
        problem_ = "its stored bytes do not match their checksum";
        return false;
    }
    return true;
}
