// A tool's output written under a temporary name and moved into place when complete.
#include "tools/output_file.h"

#include "util/fs/file.h"
#include "util/fs/paths.h"
#include "util/text/encoding.h"

bool WriteThroughPartial(const std::wstring& output, const char* what,
                         const std::function<bool(CFileDX&, std::string&)>& write, std::string& error,
                         const std::function<bool(const std::wstring&, std::string&)>& check)
{
    const std::wstring partial = output + L".partial";
    bool ok = false;
    {
        CFileDX out;
        if (!out.Create(partial.c_str(), 0)) {
            error = "cannot create \"" + ToUtf8(partial) + "\"";
            return false;
        }
        ok = write(out, error);
        // A rename can reach the disk before the data it names: a power cut must not leave a file of zeros
        // under the output's name.
        if (ok && !out.Flush()) {
            error = "cannot force \"" + ToUtf8(partial) + "\" to the disk";
            ok = false;
        }
    }
    if (ok && check)
        ok = check(partial, error);
    if (ok && !MoveReplacing(partial, output)) {
        error = std::string("cannot move the finished ") + what + " to \"" + ToUtf8(output) + "\"";
        ok = false;
    }
    if (!ok)
        RemoveFile(partial);
    return ok;
}
