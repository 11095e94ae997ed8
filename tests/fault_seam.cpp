// The counting, stopping and failing file operations of the fault tests.
#include "tests/fault_seam.h"

#include <windows.h>

#include <algorithm>

#include "util/fs/file_ops_win.h"

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

bool SeamFlushFolder(HANDLE folder)
{
    const Locked hold(g_seam->lock);
    if (!g_seam->Enter({SeamOp::FlushFolder, 0, std::wstring(), false}))
        return Refuse();
    const bool flushed = SystemFileOps().flushFolder(folder);
    if (flushed)
        g_seam->Committed(folder);
    return flushed;
}

bool SeamRename(HANDLE file, HANDLE folder, const std::wstring& name, bool replace)
{
    const Locked hold(g_seam->lock);
    if (!g_seam->Enter({SeamOp::Rename, 0, name, replace}))
        return Refuse();
    g_seam->Moving(file, folder, name, replace);
    const bool renamed = SystemFileOps().rename(file, folder, name, replace);
    g_seam->Renamed(renamed);
    return renamed;
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

// The volume and index of the object a handle reaches: one folder, whichever handle names it.
unsigned long long IdOf(HANDLE h)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info))
        return 0;
    return (static_cast<unsigned long long>(info.dwVolumeSerialNumber) << 48) ^
           (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) ^ info.nFileIndexLow;
}

std::wstring PathOf(HANDLE h)
{
    wchar_t path[4096];
    const DWORD n = GetFinalPathNameByHandleW(h, path, 4096, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return n && n < 4096 ? std::wstring(path, n) : std::wstring();
}

}  // namespace

int FaultSeam::takenBack_ = 0;

FaultSeam::FaultSeam(FaultPlan plan) : plan_(std::move(plan))
{
    g_seam = this;
    g_fileOps = {SeamCreate, SeamWrite, SeamFlush, SeamFlushFolder, SeamRename, SeamSetAttributes, SeamRemove, SeamClose};
}

FaultSeam::~FaultSeam()
{
    if (plan_.powerCut && !stopped_ && plan_.stopAfter >= static_cast<int>(ops_.size()))
        Stop();
    if (plan_.powerCut && stopped_)
        TakeBackRenames();
    g_fileOps = SystemFileOps();
    g_seam = nullptr;
}

void FaultSeam::Moving(void* file, void* folder, const std::wstring& name, bool replace)
{
    if (!plan_.powerCut)
        return;
    Moved m{PathOf(file), PathOf(folder) + L"\\" + name, IdOf(folder), false, {}, 0, false};
    if (replace) {
        // What stands at the name goes with the rename; its bytes come back if the rename does not hold.
        const HANDLE there = CreateFileW(m.to.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, 0, nullptr);
        if (there != INVALID_HANDLE_VALUE) {
            m.replaced = true;
            m.replacedAttributes = GetFileAttributesW(m.to.c_str());
            m.replacedBytes.resize(static_cast<size_t>(SizeOf(there)));
            DWORD got = 0;
            if (!m.replacedBytes.empty())
                ReadFile(there, m.replacedBytes.data(), static_cast<DWORD>(m.replacedBytes.size()), &got, nullptr);
            m.replacedBytes.resize(got);
            CloseHandle(there);
        }
    }
    moved_.push_back(std::move(m));
}

void FaultSeam::Renamed(bool done)
{
    // A rename the system refused changed nothing a power cut could take back.
    if (plan_.powerCut && !done && !moved_.empty())
        moved_.pop_back();
}

void FaultSeam::Committed(void* folder)
{
    const unsigned long long id = IdOf(folder);
    for (Moved& m : moved_)
        m.committed = m.committed || (id && m.folder == id);
}

// Newest first, every rename that no flush of its folder committed goes back to where it came from, and
// what it replaced stands again (as a plain file). The run has ended: nothing holds the files any more.
void FaultSeam::TakeBackRenames()
{
    for (auto m = moved_.rbegin(); m != moved_.rend(); ++m) {
        if (m->committed || m->from.empty())
            continue;
        if (!MoveFileExW(m->to.c_str(), m->from.c_str(), MOVEFILE_REPLACE_EXISTING))
            continue;  // deleted since: what a power cut would have kept of it is not modelled
        ++takenBack_;
        if (!m->replaced)
            continue;
        const HANDLE back = CreateFileW(m->to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (back == INVALID_HANDLE_VALUE)
            continue;
        DWORD done = 0;
        if (!m->replacedBytes.empty())
            WriteFile(back, m->replacedBytes.data(), static_cast<DWORD>(m->replacedBytes.size()), &done, nullptr);
        CloseHandle(back);
        if (m->replacedAttributes != INVALID_FILE_ATTRIBUTES)
            SetFileAttributesW(m->to.c_str(), m->replacedAttributes);
    }
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
