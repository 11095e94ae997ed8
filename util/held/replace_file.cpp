// Whole-file replacement through a new file, a flush and one rename through its handle.
#include "util/held/replace_file.h"

#include "util/base/handles_win.h"
#include "util/fs/file.h"
#include "util/held/contained_files.h"
#include "util/held/relative_files.h"

bool ReplaceFileIn(HANDLE folder, const std::wstring& name, const void* data, uint32_t size, const std::wstring& root)
{
    CFileDX file;
    if (!CreateOver(file, folder, ReplacementName(name), root))
        return false;
    // A rename can reach the disk before the data it names: flush first. The folder is flushed after it, so
    // that a list reported saved survives a power cut.
    if (file.Write(data, size) == size && file.Flush() && MoveTo(file, folder, name, true)) {
        FlushFolder(folder);
        return true;
    }
    DeleteWhenClosed(file);
    return false;
}
