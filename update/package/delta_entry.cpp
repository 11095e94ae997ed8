// Reading a delta entry for the decoder.
#include "update/package/delta_entry.h"

#include <algorithm>

#include "update/package/entry_content.h"
#include "util/fs/file.h"

DeltaEntryInput::DeltaEntryInput(EntryContent& content) : content_(content), left_(content.Size()) {}

uint32_t DeltaEntryInput::Read(unsigned char* buffer, uint32_t size)
{
    const uint32_t n = std::min(size, left_);
    if (n == 0 || failed_)
        return 0;
    if (!content_.Read(buffer, n)) {
        failed_ = true;
        return 0;
    }
    left_ -= n;
    UpdateContentChecksum(checksum_, buffer, n);
    return n;
}

bool DeltaEntryInput::Finish(unsigned char* buffer, uint32_t capacity)
{
    while (left_ > 0 && !failed_)
        Read(buffer, capacity);
    return !failed_ && content_.Finish();
}

bool DeltaFileBase::ReadAt(uint64_t offset, unsigned char* buffer, uint32_t size)
{
    return offset <= size_ && size <= size_ - offset && file_.Seek(static_cast<int64_t>(offset)) &&
           (size == 0 || file_.Read(buffer, size) == size);
}
