// mkupdate's entry elsewhere: the arguments arrive as UTF-8 bytes; the program works on UTF-16 as on Windows.
#include <string>
#include <vector>

#include "tools/mkupdate.h"
#include "util/text/code_page.h"

int main(int argc, char** argv)
{
    std::vector<std::wstring> args(static_cast<size_t>(argc));
    std::vector<wchar_t*> pointers;
    for (int i = 0; i < argc; ++i) {
        BytesToUtf16(CodePage::Utf8, argv[i], false, args[static_cast<size_t>(i)]);
        pointers.push_back(&args[static_cast<size_t>(i)][0]);
    }
    pointers.push_back(nullptr);
    return RunMkupdate(argc, pointers.data());
}
