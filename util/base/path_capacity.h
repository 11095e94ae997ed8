// The system's path buffers, in UTF-16 units with the terminator: every path the updater forms must fit.
#pragma once
#include <cstddef>

const size_t kFolderCapacity = 780;  // installation folder, own path
const size_t kPathCapacity = 784;    // paths formed from the folder and a relative name
