// Fixed-size records: one read for all of them, names NUL-terminated inside their fields, code page 932
// or ASCII in the file.
#include "archive/records.h"

#include <cstring>

#include "util/fs/file.h"
#include "util/text/encoding.h"

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
    return ToMultiByte(field, Encoding::Utf8, name, true);
}

bool EncodeNameField(const std::string& name, std::string& bytes)
{
    std::string native, back;
    if (ToMultiByte(name.c_str(), Encoding::Native, native, true) && ReadNameField(native.c_str(), native.size() + 1, back) &&
        back == name) {
        bytes.swap(native);
        return true;
    }
    if (ReadNameField(name.c_str(), name.size() + 1, back) && back == name) {
        bytes = name;
        return true;
    }
    return false;
}
