// Installation folder lookup against the real registry.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "install/installed_folder_win.h"
#include "util/base/handles_win.h"
#include "util/text/strings.h"

namespace {

// A key of this test's own under HKLM\Software, removed afterwards.
class InstalledFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vendor = L"KovoTest" + std::to_wstring(GetCurrentProcessId());
        keyPath = L"Software\\" + vendor + L"\\" + title;
        for (auto& c : folder)
            c = L'#';
        folder[0] = L'\0';
    }
    void TearDown() override
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\" + vendor).c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\" + vendor).c_str());
    }
    void SetValue(DWORD type, const void* data, DWORD bytes, HKEY root = HKEY_LOCAL_MACHINE)
    {
        RegistryKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, keyPath.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                                 key.Receive(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key.Get(), L"InstalledFolder", 0, type, static_cast<const BYTE*>(data), bytes));
    }
    void SetString(const std::wstring& text, DWORD type = REG_SZ)
    {
        SetValue(type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    int Lookup() { return GetInstalledFolder(folder, vendor.c_str(), title.c_str()); }

    std::wstring vendor;
    const std::wstring title = L"\u785D\u5B50\u306E\u7FBD\u3092\u6570\u3048\u3066";
    std::wstring keyPath;
    wchar_t folder[kFolderCapacity];
};

}  // namespace

TEST_F(InstalledFolderTest, PlainAndQuotedValuesGiveThePath)
{
    SetString(L"C:\\Games\\Garasu");
    ASSERT_EQ(1, Lookup());
    EXPECT_STREQ(L"C:\\Games\\Garasu", folder);
    SetString(L"\"C:\\Games\\Garasu\\\"");
    ASSERT_EQ(1, Lookup());
    EXPECT_STREQ(L"C:\\Games\\Garasu\\", folder);
    SetString(L"\"\"x\"\"");
    ASSERT_EQ(1, Lookup());
    EXPECT_STREQ(L"\"x\"", folder);  // only one pair is removed
}

TEST_F(InstalledFolderTest, EmptyFoldersAndOneSidedQuotes)
{
    SetString(L"\"\"");
    ASSERT_EQ(1, Lookup());
    EXPECT_STREQ(L"", folder);
    SetString(L"");
    ASSERT_EQ(1, Lookup());
    SetString(L"\"C:\\x");
    ASSERT_EQ(1, Lookup());
    EXPECT_STREQ(L"\"C:\\x", folder);
    SetString(L"C:\\x\"");
    ASSERT_EQ(1, Lookup());
    EXPECT_STREQ(L"C:\\x\"", folder);
    SetString(L"\"");
    ASSERT_EQ(1, Lookup());
    EXPECT_STREQ(L"\"", folder);
}

TEST_F(InstalledFolderTest, OtherTypesAndPlacesCountAsMissing)
{
    EXPECT_EQ(0, Lookup());  // no key at all
    SetString(L"C:\\x", REG_EXPAND_SZ);
    EXPECT_EQ(0, Lookup());
    const wchar_t multi[] = L"C:\\x\0\0";
    SetValue(REG_MULTI_SZ, multi, sizeof multi);
    EXPECT_EQ(0, Lookup());
    EXPECT_STREQ(L"", folder);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\" + vendor).c_str());
    {
        RegistryKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_WRITE,
                                                 nullptr, key.Receive(), nullptr));
        RegSetValueExW(key.Get(), L"InstalledFolder", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"C:\\x"), 10);
    }
    EXPECT_EQ(0, Lookup());
    EXPECT_EQ(0, GetInstalledFolder(folder, nullptr, title.c_str()));
}

TEST_F(InstalledFolderTest, ValuesThatDoNotFitAreRefusedAndUnterminatedOnesAreBounded)
{
    SetString(std::wstring(kFolderCapacity - 1, L'a'));
    ASSERT_EQ(1, Lookup());
    EXPECT_EQ(kFolderCapacity - 1, wcslen(folder));
    for (auto& c : folder)
        c = L'#';
    SetString(std::wstring(kFolderCapacity, L'a'));
    EXPECT_EQ(0, Lookup());
    EXPECT_EQ(L'#', folder[0]);  // untouched
    SetString(L"\"" + std::wstring(kFolderCapacity - 1, L'a') + L"\"");  // fits once the quotes are gone
    EXPECT_EQ(1, Lookup());
    SetString(std::wstring(5000, L'a'));  // larger than the query's buffer
    EXPECT_EQ(0, Lookup());

    const wchar_t noTerminator[] = {L'C', L':', L'\\', L'z'};
    SetValue(REG_SZ, noTerminator, sizeof noTerminator);
    ASSERT_EQ(1, Lookup());
    EXPECT_STREQ(L"C:\\z", folder);
}
