// Where the updater's own file keeps its title block and its payload, behind the program image.
#pragma once
#include <cstdint>

#include "util/fs/system_names.h"

const uint32_t kTitleBlockOffset = 0xA0000;  // the program image ends at or before this offset
const uint32_t kTitleBlockSize = 1024;       // multibyte title, NUL-terminated, zero-filled
const uint32_t kPayloadOffset = 0xA0400;      // the payload archive runs from here to the end of the file
const uint32_t kMaxPayloadEntries = 256;
const uint32_t kCopyChunk = 0x100000;  // entries stream through one buffer of this size
