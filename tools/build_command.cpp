// mkupdate build: the package builder run on the parsed options.
#include "tools/build_command.h"

#include <cstdio>

#include "tools/columns.h"
#include "util/text/encoding.h"

BuildResult BuildCommand(const BuildOptions& options)
{
    BuildResult result;
    result.output = options.output;
    result.files = options.files.size();
    result.written = BuildUpdater(options, result.problem, &result.leftOut);
    return result;
}

void PrintBuildText(const BuildResult& result)
{
    if (!result.written)
        return;
    const std::string output = ToUtf8(result.output);
    if (result.leftOut == 0)
        printf("mkupdate: wrote %s (%s)\n", output.c_str(), Counted(result.files, "file", "files").c_str());
    else
        printf("mkupdate: wrote %s (%s; %zu unchanged in every base left out)\n", output.c_str(),
               Counted(result.files - result.leftOut, "file", "files").c_str(), result.leftOut);
}
