// The tests' file operations in front of the elevated writer's (util/fs/file_ops_win.h): every operation of a
// run numbered, the run stopped after operation N as a kill would stop it (every later operation fails
// without effect; handles still close, as the system closes a killed process's handles), a power cut at
// that moment (what was written through a handle since its last flush is lost, and every rename whose folder
// was not flushed since is taken back), or chosen operations failed.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "util/base/threads.h"

struct SeamOp {
    enum Kind { Create, Write, Flush, FlushFolder, Rename, SetAttributes, Remove } kind;
    int index = 0;      // from 1
    std::wstring name;  // the new name of a Create or Rename
    bool replace = false;
};

struct FaultPlan {
    int stopAfter = -1;     // operations 1..stopAfter happen; -1: all
    // At the stop, every write not yet flushed is lost, and every rename not committed by a flush of its
    // folder is taken back once the run has ended. With stopAfter at the run's count of operations or more,
    // the power goes off after the run, when the seam goes.
    bool powerCut = false;
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
    // Renames a power cut took back so far, over every seam (the campaign's figure that the model bites).
    static int TakenBack() { return takenBack_; }

    // For the table's functions. The writer flushes in a thread of its own: each operation holds `lock`
    // from its number to its end, so that operations do not overlap and a stop falls between two of them.
    Mutex lock;
    bool Enter(SeamOp op);
    void Track(void* file, bool created, bool written, bool flushed, bool closed);
    // A rename about to happen, and a folder flushed, for the power cut's account of what was committed.
    void Moving(void* file, void* folder, const std::wstring& name, bool replace);
    void Renamed(bool done);
    void Committed(void* folder);

private:
    struct Written {
        void* file;
        long long flushedSize;
        bool dirty;
    };
    // A rename as a power cut would take it back: the paths before and after, what it replaced, and whether
    // its folder was flushed since.
    struct Moved {
        std::wstring from, to;
        unsigned long long folder;
        bool replaced;
        std::vector<unsigned char> replacedBytes;
        unsigned long replacedAttributes;
        bool committed;
    };
    void Stop();
    void TakeBackRenames();
    FaultPlan plan_;
    std::vector<SeamOp> ops_;
    std::vector<Written> files_;
    std::vector<Moved> moved_;
    bool stopped_ = false;
    static int takenBack_;
};

// A plan that fails the operations `indexes` (as numbered in a run with the same plan up to them).
std::function<bool(const SeamOp&)> FailAt(std::vector<int> indexes);
