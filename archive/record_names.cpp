// Fixed-width name fields: NUL-terminated inside the field, code page 932 or ASCII in the file.
#include "archive/record_names.h"

#include <cstring>

#include "util/encoding.h"

bool ReadNameField(const char* field, size_t width, std::string& name)
{
    const void* nul = memchr(field, 0, width);
    if (!nul)
        return false;
    return ToMultiByte(field, Utf8, name, true);
}
