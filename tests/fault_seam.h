// The tests' file operations in front of the elevated writer's (util/fs/file_ops.h): every operation of a
// run numbered, the run stopped after operation N as a kill would stop it (every later operation fails
// without effect; handles still close, as the system closes a killed process's handles), a power cut at
// that moment (what was written through a handle since its last flush is lost), or chosen operations failed.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "util/base/threads.h"

struct SeamOp {
    enum Kind { Create, Write, Flush, Rename, SetAttributes, Remove } kind;
    int index = 0;      // from 1
    std::wstring name;  // the new name of a Create or Rename
    bool replace = false;
};

struct FaultPlan {
    int stopAfter = -1;     // operations 1..stopAfter happen; -1: all
    bool powerCut = false;  // at the stop, every write not yet flushed is lost
    std::function<bool(const SeamOp&)> fail;  // true: that operation fails without effect
};

// Puts its operations in front of the system's for its lifetime (one at a time).
class FaultSeam {
public:
    explicit FaultSeam(FaultPlan plan = FaultPlan());
    ~FaultSeam();
    FaultSeam(const FaultSeam&) = delete;
    FaultSeam& operator=(const FaultSeam&) = delete;
    const std::vector<SeamOp>& ops() const { return ops_; }
    bool stopped() const { return stopped_; }

    // For the table's functions. The writer flushes in a thread of its own: each operation holds `lock`
    // from its number to its end, so that operations do not overlap and a stop falls between two of them.
    Mutex lock;
    bool Enter(SeamOp op);
    void Track(void* file, bool created, bool written, bool flushed, bool closed);

private:
    struct Written {
        void* file;
        long long flushedSize;
        bool dirty;
    };
    void Stop();
    FaultPlan plan_;
    std::vector<SeamOp> ops_;
    std::vector<Written> files_;
    bool stopped_ = false;
};

// A plan that fails the operations `indexes` (as numbered in a run with the same plan up to them).
std::function<bool(const SeamOp&)> FailAt(std::vector<int> indexes);
