// Where the updater's own file keeps its title block and its payload, behind the program image.
#pragma once
#include <cstdint>

const uint32_t kTitleBlockOffset = 0xA0000;  // the program image ends at or before this offset
const uint32_t kTitleBlockSize = 1024;       // multibyte title, NUL-terminated, zero-filled
const uint32_t PayloadOffset = 0xA0400;      // the payload archive runs from here to the end of the file
const uint32_t kMaxPayloadEntries = 256;
const uint32_t kCopyChunk = 0x100000;  // entries stream through one buffer of this size
const char kPayloadVersionListName[] = "KPX.hvl";
const char kVersionListKey[] = "kpx.hvl";  // ArchiveNameKey of the version list, in the payload and installed

// Each new file is copied under this suffix beside its target ("Archive\data01200.arc.tmp").
const wchar_t kTemporarySuffix[] = L".tmp";
// Each installed file is first kept aside under this suffix ("Archive\data01200.arc.kept"), so that a
// failed run can put it back. The package checks refuse targets of that form.
const wchar_t kKeptSuffix[] = L".kept";
