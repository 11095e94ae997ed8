// Fixed-size records: one read for all of them, names NUL-terminated inside their fields, code page 932
// or ASCII in the file.
#include "archive/records.h"

#include <cstring>

#include "util/encoding.h"
#include "util/file.h"

bool ReadRecordBlock(CFileDX& file, uint32_t count, uint32_t size, std::vector<unsigned char>& block)
{
    const uint64_t total = static_cast<uint64_t>(count) * size;
    if (total >= 0x100000000ull || total > file.GetSize())
        return false;
    std::vector<unsigned char> bytes(static_cast<size_t>(total));
    if (total && file.Read(bytes.data(), static_cast<uint32_t>(total)) != total)
        return false;
    block.swap(bytes);
    return true;
}

bool ReadNameField(const char* field, size_t width, std::string& name)
{
    const void* nul = memchr(field, 0, width);
    if (!nul)
        return false;
    return ToMultiByte(field, Utf8, name, true);
}
