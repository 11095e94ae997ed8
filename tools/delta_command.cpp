// mkupdate delta and apply: VCDIFF deltas between the files named.
#include "tools/delta_command.h"

#include <cstdio>

#include "tools/delta_files.h"
#include "util/fs/paths.h"
#include "util/text/encoding.h"

DeltaFileResult DeltaCommand(const DeltaOptions& options)
{
    DeltaFileResult result;
    result.output = options.output;
    const std::wstring& base = options.files[0];
    result.code = options.apply ? ApplyDeltaFile(base, options.files[1], options.output, result.problem)
                                : MakeDeltaFile(base, options.files[1], options.output, result.problem);
    if (result.code == 0)
        FileSizeOf(options.output, result.size);
    return result;
}

void PrintDeltaText(const DeltaFileResult& result)
{
    if (result.code == 0)
        printf("mkupdate: wrote %s (%llu bytes)\n", ToUtf8(result.output).c_str(),
               static_cast<unsigned long long>(result.size));
}
