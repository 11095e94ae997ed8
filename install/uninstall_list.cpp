// Reading, normalising, extending and rewriting the uninstall list.
#include "install/uninstall_list.h"

#include <cstring>

#include "util/folder/folder_reader.h"
#include "util/fs/file.h"
#include "util/fs/relative_path.h"
#include "util/text/encoding.h"
#include "util/text/strings.h"

namespace {

// UTF-8 with lowered ASCII capitals. A line that does not convert is kept as it was read.
std::string NormaliseLine(const std::string& line)
{
    std::string out;
    if (!ToMultiByte(line.c_str(), Encoding::Utf8, out))
        out = line;
    ToLowerAscii(out);
    return out;
}

// A line naming a file already listed, in any spelling Windows resolves to that file, is not added again.
void AddLine(std::vector<std::string>& group, std::string line)
{
    for (const std::string& existing : group) {
        if (StrCompare(existing.c_str(), line.c_str()) == 0 || (line[0] != '$' && SameRelativePath(existing, line)))
            return;
    }
    group.push_back(std::move(line));
}

}  // namespace

void ParseUninstallList(const char* text, UninstallGroups& groups)
{
    const char* p = text;
    for (;;) {
        // CR and LF are never part of a multi-byte character in code page 932 or UTF-8 (trail bytes are
        // 0x40 and above), so a plain byte search finds every line end in a text of mixed encodings.
        p += strspn(p, " \t\r\n");
        if (*p == '\0')
            return;
        size_t length = strcspn(p, "\r\n");
        std::string line = NormaliseLine(std::string(p, length));
        std::vector<std::string>& group = line[0] == '$' ? groups.dollars : groups.files;
        AddLine(group, std::move(line));
        p += length;
    }
}

std::string FormatUninstallList(const UninstallGroups& groups)
{
    std::string text;
    for (const auto* group : {&groups.files, &groups.dollars}) {
        for (const std::string& line : *group) {
            text += line;
            text += '\n';
        }
    }
    text += '\0';
    return text;
}

bool PlanUninstallList(const FolderReader& folder, const std::vector<std::wstring>& targetNames, std::string& out)
{
    std::string text;
    {
        CFileDX file;
        // A list that leads out of the folder is not read either: its lines would be written back inside.
        if (folder.OpenList(kUninstallListName, file) != FolderReader::Opened::Yes)
            return false;
        const uint32_t size = file.GetSize();
        if (size == 0xFFFFFFFF)
            return false;
        text.resize(size);
        if (size && file.Read(&text[0], size) != size)
            return false;  // never write back a list that was not read whole
    }

    UninstallGroups groups;
    ParseUninstallList(text.c_str(), groups);  // the text ends at its first NUL
    for (const std::wstring& name : targetNames) {
        if (name.empty())
            continue;
        std::string line;
        if (!WideToMultiByte(name.c_str(), Encoding::Utf8, line))
            return false;
        ToLowerAscii(line);
        AddLine(groups.files, std::move(line));
    }
    out = FormatUninstallList(groups);
    return true;
}
