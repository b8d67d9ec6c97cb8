#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Folders.h"
#include "ProductKeys.h"
#include "QvLog.h"
#include "TestSupport.h"

using KelTest::CapturedLog;
using KelTest::IsFolder;
using KelTest::RegistryScope;
using KelTest::TempFolder;

namespace {

const std::wstring INTERACTIVE_KEY = QV_DEBUGLOG_KEY L"\\" QV_DEBUGLOG_INTERACTIVE;
const std::wstring PROTECTED_KEY = QV_DEBUGLOG_KEY L"\\" QV_DEBUGLOG_PROTECTED;
const std::wstring SERVICE_KEY = QV_DEBUGLOG_KEY L"\\" QV_DEBUGLOG_SERVICE;

// A drive letter with nothing mapped to it, as "X:".
std::wstring MissingDrive() {
    for (wchar_t letter = L'Y'; letter >= L'D'; --letter) {
        const std::wstring root = std::wstring(1, letter) + L":\\";
        if (::GetDriveTypeW(root.c_str()) == DRIVE_NO_ROOT_DIR) return root.substr(0, 2);
    }
    return std::wstring();
}

// What one case wrote to the captured log: each expected line ("<marker>
// <text>"), or nothing at all when none is expected.
void ExpectLogged(const std::string& written, const std::vector<std::string>& lines) {
    if (lines.empty()) { EXPECT_EQ("", written); }
    for (const std::string& line : lines)   // the captured log's module stands after the marker
        EXPECT_NE(std::string::npos, written.find(line.substr(0, 3) + " <KelTest> " + line.substr(4)))
            << line << "\nin:\n" << written;
}
} // namespace

// "Language" first; only when it cannot be read does the product language fall
// back to the installer's culture name, never to "EN-US".
TEST(ProductLanguage, LanguageAndItsFallbacks) {
    const struct Case {
        const char* what; bool languagePresent; DWORD languageType; std::wstring language; bool culturePresent;
        std::wstring culture, expectedLanguage; DWORD expectedError; std::wstring expectedProductLanguage;
    } cases[] = {
        {"both set", true, REG_SZ, L"FR-FR", true, L"de-DE", L"FR-FR", 0, L"FR-FR"},
        {"language missing", false, REG_SZ, L"", true, L"de-DE", L"EN-US", 1, L"de-DE"},
        {"both missing", false, REG_SZ, L"", false, L"", L"EN-US", 1, L""},
        {"language of another type", true, REG_DWORD, L"", true, L"ja-JP", L"EN-US", 1, L"ja-JP"},
        {"language empty but present", true, REG_SZ, L"", true, L"de-DE", L"", 0, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RegistryScope product(QV_PRODUCT_KEY), product32(QV_PRODUCT_KEY, KEY_WOW64_32KEY);
        // The redirected view holds decoys that must never be read.
        ASSERT_TRUE(product32.SetString(QV_VALUE_LANGUAGE, L"XX-32") &&
                    product32.SetString(QV_VALUE_INSTALL_CULTURE, L"xx-32"));
        ASSERT_TRUE(!c.languagePresent ? product.Remove(QV_VALUE_LANGUAGE)
                    : c.languageType == REG_DWORD ? product.SetDword(QV_VALUE_LANGUAGE, 1)
                    : product.SetString(QV_VALUE_LANGUAGE, c.language, L"", c.languageType));
        ASSERT_TRUE(c.culturePresent ? product.SetString(QV_VALUE_INSTALL_CULTURE, c.culture)
                                     : product.Remove(QV_VALUE_INSTALL_CULTURE));
        DWORD error = 0xDEAD;
        EXPECT_EQ(c.expectedLanguage, Frwk::Utility::GetLanguage(&error));
        EXPECT_EQ(c.expectedError, error);
        EXPECT_EQ(c.expectedProductLanguage, KelCommon::GetProductLanguage());
        EXPECT_EQ(c.culturePresent ? c.culture : L"", KelCommon::GetInstallLangCultureName());
    }
}

TEST(InstalledFolder, ReturnedAsStoredFromThe64BitView) {
    struct Case { const char* what; bool present; std::wstring stored; } cases[] = {
        {"no trailing backslash", true, L"C:\\Quorvane\\NORDAL"},
        {"trailing backslash", true, L"C:\\Quorvane\\NORDAL\\"},
        {"missing", false, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RegistryScope product(QV_PRODUCT_KEY), product32(QV_PRODUCT_KEY, KEY_WOW64_32KEY);
        ASSERT_TRUE(product32.SetString(QV_VALUE_PRODUCT_PATH, L"C:\\Decoy32\\"));
        ASSERT_TRUE(c.present ? product.SetString(QV_VALUE_PRODUCT_PATH, c.stored)
                              : product.Remove(QV_VALUE_PRODUCT_PATH));
        EXPECT_EQ(c.stored, Frwk::Utility::GetInstalledFolder());
    }
}

TEST(CreateSpecifiedFolder, CreatesMissingFoldersAlongThePath) {
    TempFolder base;
    ASSERT_TRUE(KelTest::WriteText(base.Path() + L"file.txt", "x"));
    const std::wstring missingDrive = MissingDrive();
    ASSERT_FALSE(missingDrive.empty()) << "every drive letter is mapped";

    // error: the last error after a failure; made: a folder that must exist afterwards.
    const std::wstring& b = base.Path();
    const struct Case {
        const char* what; std::wstring folder; bool result, existed; DWORD error; std::wstring made;
    } cases[] = {
        {"trailing backslash", b + L"t\\u\\", true, false, 0, b + L"t\\u"},
        {"doubled separator", b + L"d\\\\e", true, false, 0, b + L"d\\e"},
        {"existing file counts as there", b + L"file.txt", true, true, 0, L""},
        {"empty path", L"", false, false, ERROR_BAD_ARGUMENTS, L""},
        // One separator is refused before any try: on a missing drive a try fails with another code.
        {"missing drive, one separator", missingDrive + L"\\kel", false, false, ERROR_BAD_ARGUMENTS, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bool existed = !c.existed;   // must be overwritten either way
        ::SetLastError(0);
        EXPECT_EQ(c.result, Frwk::Utility::CreateSpecifiedFolder(c.folder, existed));
        EXPECT_EQ(c.existed, existed);
        if (!c.result) { EXPECT_EQ(c.error, ::GetLastError()); }
        if (!c.result && !c.folder.empty()) { EXPECT_FALSE(IsFolder(c.folder)); }
        if (!c.made.empty()) { EXPECT_TRUE(IsFolder(c.made)); }
    }
}

// The interactive session's "LogFolder" is the dump folder, created when
// missing and returned as stored even when it cannot be made.
TEST(DumpFolder, ReturnedAsStoredAndCreatedWhenMissing) {
    const std::wstring missingDrive = MissingDrive();
    ASSERT_FALSE(missingDrive.empty());
    TempFolder base;
    const std::wstring& b = base.Path();
    const std::wstring missingDumps = missingDrive + L"\\Dumps\\";
    // made: the folder exists afterwards.
    const struct Case {
        const char* what; REGSAM view; std::wstring stored, expected; bool made; std::vector<std::string> logged;
    } cases[] = {
        {"missing folder", KEY_WOW64_64KEY, b + L"Interactive\\Dumps", b + L"Interactive\\Dumps", true, {}},
        // The second call finds it and returns it the same, and logs nothing.
        {"existing folder", KEY_WOW64_64KEY, b + L"Interactive\\Dumps", b + L"Interactive\\Dumps", true, {}},
        {"on a missing drive", KEY_WOW64_64KEY, missingDumps, missingDumps, false,
         // Windows' own code: ERROR_PATH_NOT_FOUND (3) there, ERROR_FILE_NOT_FOUND (2) under Wine 8.
         {"!!! Frwk::Utility::CreateSpecifiedFolder() - QvCommon::Storage::File::CreateDirectory() was failed. "
          "[0x0000000",
          "!!! Frwk::Utility::GetDumpFolder() - Frwk::Utility::CreateSpecifiedFolder(" +
              KelTest::Narrow(missingDumps) + ") was failed."}},
        {"set in the redirected view only", KEY_WOW64_32KEY, b + L"y", L"", false,
         {"!!! Frwk::Utility::GetDumpFolder() - tsFolder is empty."}},
    };
    CapturedLog log;
    ASSERT_TRUE(log.Initialized());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RegistryScope interactive(INTERACTIVE_KEY), inView(INTERACTIVE_KEY, c.view);
        // A process of the interactive session reads neither of these.
        RegistryScope protectedKey(PROTECTED_KEY), serviceKey(SERVICE_KEY);
        ASSERT_TRUE(protectedKey.SetString(QV_VALUE_LOG_FOLDER, b + L"Protected") &&
                    serviceKey.SetString(QV_VALUE_LOG_FOLDER, b + L"Service"));
        ASSERT_TRUE(interactive.Remove(QV_VALUE_LOG_FOLDER));
        ASSERT_TRUE(inView.SetString(QV_VALUE_LOG_FOLDER, c.stored));
        const size_t before = log.Text().size();
        EXPECT_EQ(c.expected, Frwk::Utility::GetDumpFolder());
        EXPECT_EQ(c.made, IsFolder(c.stored));
        EXPECT_FALSE(IsFolder(b + L"Protected") || IsFolder(b + L"Service"));
        ExpectLogged(log.Text().substr(before), c.logged);
    }
}

// A program gets its own folder with one trailing backslash, also from the
// root of drive C. The probe is copied there and started with the build's
// binary folder as its working folder, where the loader finds the C++ runtime
// DLLs.
TEST(ModuleFolder, IsTheExecutablesFolderWithBackslash) {
    const std::wstring binFolder = KelTest::ProgramFolder();
    EXPECT_EQ(0, _wcsicmp(binFolder.c_str(), GetModuleFolder().c_str()));
    const std::wstring probe = L"kel_folder_probe_" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
    ASSERT_TRUE(::CopyFileW((binFolder + L"crash_probe.exe").c_str(), (L"C:\\" + probe).c_str(), FALSE))
        << ::GetLastError();
    {
        KelTest::ChildProcess child(probe, L"folder", KelTest::ChildOptions().Capture().From(L"C:\\").In(binFolder));
        EXPECT_EQ(0u, child.Wait(KelTest::CHILD_START_MS));
        const std::string out = child.Output();   // UTF-16, as the probe writes it
        const std::wstring printed(reinterpret_cast<const wchar_t*>(out.data()), out.size() / sizeof(wchar_t));
        EXPECT_EQ(0, _wcsicmp(L"C:\\", printed.c_str())) << KelTest::Narrow(printed);
    }
    ::DeleteFileW((L"C:\\" + probe).c_str());
}
