// The counting, stopping and failing file operations of the fault tests.
#include "tests/fault_seam.h"

#include <windows.h>

#include <algorithm>

#include "util/fs/file_ops.h"

namespace {

FaultSeam* g_seam = nullptr;

bool Refuse()
{
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
}

HANDLE SeamCreate(HANDLE folder, const std::wstring& name)
{
    const Locked hold(g_seam->lock);
    if (!g_seam->Enter({SeamOp::Create, 0, name, false})) {
        Refuse();
        return nullptr;
    }
    HANDLE h = SystemFileOps().create(folder, name);
    if (h)
        g_seam->Track(h, true, false, false, false);
    return h;
}

uint32_t SeamWrite(HANDLE file, const void* data, uint32_t size)
{
    const Locked hold(g_seam->lock);
    if (!g_seam->Enter({SeamOp::Write, 0, std::wstring(), false})) {
        Refuse();
        return 0;
    }
    const uint32_t done = SystemFileOps().write(file, data, size);
    g_seam->Track(file, false, done > 0, false, false);
    return done;
}

bool SeamFlush(HANDLE file)
{
    const Locked hold(g_seam->lock);
    if (!g_seam->Enter({SeamOp::Flush, 0, std::wstring(), false}))
        return Refuse();
    const bool flushed = SystemFileOps().flush(file);
    if (flushed)
        g_seam->Track(file, false, false, true, false);
    return flushed;
}

bool SeamRename(HANDLE file, HANDLE folder, const std::wstring& name, bool replace)
{
    const Locked hold(g_seam->lock);
    return g_seam->Enter({SeamOp::Rename, 0, name, replace}) ? SystemFileOps().rename(file, folder, name, replace)
                                                               : Refuse();
}

bool SeamSetAttributes(HANDLE file, DWORD attributes)
{
    const Locked hold(g_seam->lock);
    return g_seam->Enter({SeamOp::SetAttributes, 0, std::wstring(), false})
               ? SystemFileOps().setAttributes(file, attributes) : Refuse();
}

bool SeamRemove(HANDLE file)
{
    const Locked hold(g_seam->lock);
    return g_seam->Enter({SeamOp::Remove, 0, std::wstring(), false}) ? SystemFileOps().remove(file) : Refuse();
}

void SeamClose(HANDLE file)
{
    const Locked hold(g_seam->lock);
    g_seam->Track(file, false, false, false, true);
    SystemFileOps().close(file);
}

long long SizeOf(HANDLE file)
{
    LARGE_INTEGER size;
    return GetFileSizeEx(file, &size) ? size.QuadPart : 0;
}

}  // namespace

FaultSeam::FaultSeam(FaultPlan plan) : plan_(std::move(plan))
{
    g_seam = this;
    g_fileOps = {SeamCreate, SeamWrite, SeamFlush, SeamRename, SeamSetAttributes, SeamRemove, SeamClose};
}

FaultSeam::~FaultSeam()
{
    g_fileOps = SystemFileOps();
    g_seam = nullptr;
}

bool FaultSeam::Enter(SeamOp op)
{
    op.index = static_cast<int>(ops_.size()) + 1;
    ops_.push_back(op);
    if (stopped_)
        return false;
    if (plan_.stopAfter >= 0 && op.index > plan_.stopAfter) {
        Stop();
        return false;
    }
    return !(plan_.fail && plan_.fail(op));
}

void FaultSeam::Track(void* file, bool created, bool written, bool flushed, bool closed)
{
    auto it = std::find_if(files_.begin(), files_.end(), [&](const Written& w) { return w.file == file; });
    if (created) {
        if (it != files_.end())
            files_.erase(it);
        files_.push_back({file, 0, false});
        return;
    }
    if (it == files_.end())
        return;
    if (closed)
        files_.erase(it);
    else if (written)
        it->dirty = true;
    else if (flushed)
        *it = {file, SizeOf(file), false};
}

// From here on nothing reaches the disk. A power cut also takes what was not flushed: every file written
// since its last flush is cut back to what was flushed, possibly nothing.
void FaultSeam::Stop()
{
    stopped_ = true;
    if (!plan_.powerCut)
        return;
    for (const Written& w : files_) {
        if (!w.dirty)
            continue;
        FILE_END_OF_FILE_INFO end;
        end.EndOfFile.QuadPart = w.flushedSize;
        SetFileInformationByHandle(w.file, FileEndOfFileInfo, &end, sizeof end);
    }
}

std::function<bool(const SeamOp&)> FailAt(std::vector<int> indexes)
{
    return [indexes](const SeamOp& op) { return std::find(indexes.begin(), indexes.end(), op.index) != indexes.end(); };
}
