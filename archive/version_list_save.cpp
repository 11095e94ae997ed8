// Saving a version list whole, through the system's replacement of a file.
#include "archive/version_list.h"

#include "util/held/replace_file.h"

bool SaveVersionList(const VersionListHeader& header, const std::vector<VersionRecord>& records,
                     const wchar_t* path)
{
    std::vector<unsigned char> bytes;
    if (!EncodeVersionList(header, records, bytes))
        return false;
    return ReplaceFileContents(path, bytes.data(), static_cast<uint32_t>(bytes.size()));
}
