// The string table read from real files beside the test program (and below
// the installed folder for the add-ons' section), in UTF-16 as the product
// ships them.
#include <gtest/gtest.h>

#include "L10nReader.h"
#include "ProductKeys.h"
#include "TestSupport.h"

using KelTest::LanguageTable;

TEST(L10nReader, FirstValueWinsAndOddLinesFollowTheirRules) {
    const std::wstring table =
        L"[Global]\r\nR_MAINFRAME=Main\r\nR_ABOUTFRAME=\r\na==b\r\nno equals\r\nR_SAME=global\r\n"
        L"R_SAME=second line\r\nR_UMLAUT=Gr\u00fc\u00dfe \u20ac\r\n"
        L"[KEL_CONSOLE]\r\nR_SAME=console\r\nR_CONSOLE=only here\r\n";
    LanguageTable language(KelTest::ProgramFolder(), table);
    struct Case { const char* what; const wchar_t* section; const wchar_t* key; const wchar_t* expected; } cases[] = {
        {"nothing after the =", L"KEL_CONSOLE", L"R_ABOUTFRAME", nullptr},
        {"a run of =: the key keeps all but the last", L"KEL_CONSOLE", L"a=", L"b"},
        {"Global wins, the first line wins", L"KEL_CONSOLE", L"R_SAME", L"global"},
        {"the additional section", L"KEL_CONSOLE", L"R_CONSOLE", L"only here"},
        {"keys are case-sensitive", L"KEL_CONSOLE", L"r_mainframe", nullptr},
        {"outside ASCII", L"KEL_CONSOLE", L"R_UMLAUT", L"Gr\u00fc\u00dfe \u20ac"},
        {"no additional section: Global only", L"", L"R_CONSOLE", nullptr},
    };
    KelTest::CapturedLog log;
    ASSERT_TRUE(log.Initialized());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CL10nReader reader;
        EXPECT_TRUE(reader.ParseL10nFile(language.Name(), c.section));
        const wchar_t* text = reader.GetString(c.key);
        if (!c.expected) { EXPECT_EQ(nullptr, text); }
        else { ASSERT_NE(nullptr, text); EXPECT_EQ(std::wstring(c.expected), text); }
    }
    EXPECT_TRUE(log.Contains("CL10nReader::GetString - String not found[r_mainframe]"));
    // The table the product ships beside the program, in UTF-16 as well.
    CL10nReader shipped;
    EXPECT_TRUE(shipped.ParseL10nFile(L"EN-US", L"KEL_CONSOLE"));
    EXPECT_STREQ(L"Quorvane Password Manager", shipped.GetString(L"R_MAINFRAME"));
    const std::string bytes = KelTest::ReadBytes(KelTest::ProgramFolder() + L"Resource\\EN-US\\StringTable.ini");
    EXPECT_EQ("\xFF\xFE", bytes.substr(0, 2));
}

// A section is read in one buffer that grows to at most 32,766 characters;
// what does not fit is not stored at all, and what was read stays usable.
TEST(L10nReader, FailuresKeepWhatWasRead) {
    std::wstring big = L"[Global]\r\nR_KEPT=yes\r\n[KEL_CONSOLE]\r\n";
    for (int i = 0; i < 1200; ++i) big += L"R_KEY_" + std::to_wstring(i) + L"=" + std::wstring(20, L'v') + L"\r\n";
    LanguageTable oversized(KelTest::ProgramFolder(), big);
    LanguageTable noConsole(KelTest::ProgramFolder(), L"[Global]\r\nR_KEPT=yes\r\n");
    LanguageTable noGlobal(KelTest::ProgramFolder(), L"[KEL_CONSOLE]\r\nR_KEPT=yes\r\n");
    struct Case { const char* what; std::wstring language, section; unsigned count; const char* logged; } cases[] = {
        {"section too big", oversized.Name(), L"KEL_CONSOLE", 1,
         "CL10nReader::QueryIniValue - nCountOfString could not larger than SHRT_MAX."},
        {"section missing", noConsole.Name(), L"KEL_CONSOLE", 1,
         "CL10nReader::ParseL10nFile - QueryIniValue() failed. _tsAdditionalSection[KEL_CONSOLE]"},
        {"Global missing", noGlobal.Name(), L"KEL_CONSOLE", 1,
         "CL10nReader::ParseL10nFile - QueryIniValue() for Global section failed"},
        {"no table for the language", L"XX-XX", L"KEL_CONSOLE", 0,
         "CL10nReader::ParseL10nFile - QvCommon::Storage::File::IsExisted("},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KelTest::CapturedLog log;
        ASSERT_TRUE(log.Initialized());
        CL10nReader reader;
        EXPECT_FALSE(reader.ParseL10nFile(c.language, c.section));
        EXPECT_EQ(c.count, reader.Count());
        EXPECT_TRUE(log.Contains(c.logged)) << log.Text();
    }
}

// The add-ons' section reads the table below the installed folder, not
// beside the program.
TEST(L10nReader, AddOnSectionReadsTheInstalledFolder) {
    KelTest::TempFolder installed;
    KelTest::RegistryScope product(QV_PRODUCT_KEY);
    ASSERT_TRUE(product.SetString(QV_VALUE_PRODUCT_PATH, installed.Path().substr(0, installed.Path().size() - 1)));
    LanguageTable language(installed.Path(), L"[Global]\r\nR_WHERE=installed\r\n[IEBHO]\r\nR_ADDON=yes\r\n");
    CL10nReader reader;
    ASSERT_TRUE(reader.ParseL10nFile(language.Name(), L10N_ADDON_SECTION));
    ASSERT_NE(nullptr, reader.GetString(L"R_ADDON"));
    EXPECT_EQ(std::wstring(L"installed"), reader.GetString(L"R_WHERE"));
    EXPECT_FALSE(CL10nReader().ParseL10nFile(language.Name(), L"KEL_CONSOLE")) << "not beside the program";
}
