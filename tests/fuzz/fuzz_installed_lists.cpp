// The installation's own lists, which any signed-in user may be able to write, read and planned as the
// updater plans them: "kpx.hvl" merged with a payload's records and pruned, "uninst.lst" extended. The
// first byte picks the list; a planned version list reads back as planned, and planning the uninstall list
// again on its own result changes nothing.
#include <cstring>
#include <vector>

#include "archive/version_list.h"
#include "install/uninstall_list.h"
#include "tests/fuzz/fuzz_support.h"
#include "update/package/list_updates.h"
#include "util/folder/folder_reader.h"
#include "util/fs/file.h"

namespace {

const std::vector<std::wstring> kTargets = {L"Archive\\data01200.arc", L"Archive\\\u8FFD\u52A0.arc", L"kpx.hvl"};
const std::vector<VersionRecord> kPayload = {{"Archive\\data01200.arc", 0x1122334455667788ull},
                                             {"Archive\\\xE8\xBF\xBD\xE5\x8A\xA0.arc", 2}};

void VersionList(const uint8_t* data, size_t size)
{
    const auto folder = OpenFolderReader(InputFolder(data, size, "kpx.hvl"));
    VersionListPlan plan;
    PlanVersionList(*folder, kPayload, &kTargets, plan);
    if (plan.outcome != VersionListOutcome::Updated)
        return;
    CFileDX file;
    FUZZ_CHECK(file.Open(InputFile(plan.bytes.data(), plan.bytes.size(), 0, std::string(), "planned").c_str()));
    VersionListHeader header{};
    std::vector<VersionRecord> records;
    FUZZ_CHECK(ReadVersionList(header, records, file));
    FUZZ_CHECK(header.count == plan.header.count && records.size() == plan.records.size());
    for (size_t i = 0; i < records.size(); ++i)
        FUZZ_CHECK(records[i].name == plan.records[i].name && records[i].value == plan.records[i].value);
}

void UninstallList(const uint8_t* data, size_t size)
{
    std::string once, twice;
    if (!PlanUninstallList(*OpenFolderReader(InputFolder(data, size, "uninst.lst")), kTargets, once))
        return;
    FUZZ_CHECK(!once.empty() && once.back() == '\0');
    const auto* bytes = reinterpret_cast<const uint8_t*>(once.data());
    FUZZ_CHECK(PlanUninstallList(*OpenFolderReader(InputFolder(bytes, once.size(), "uninst.lst")), kTargets, twice));
    FUZZ_CHECK(once == twice);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    if (data[0] & 1)
        UninstallList(data + 1, size - 1);
    else
        VersionList(data + 1, size - 1);
    return 0;
}
