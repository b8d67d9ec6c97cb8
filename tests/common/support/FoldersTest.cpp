#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Folders.h"
#include "ProductKeys.h"
#include "QvHandle.h"
#include "QvLog.h"
#include "RegistryScope.h"
#include "TestFiles.h"
#include "TestSupport.h"

using KelTest::Files::IsFolder;
using KelTest::RegAbsent;
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

bool RunningUnderWine() {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

// Creating a folder on a drive letter that is not mapped fails on Windows with
// ERROR_PATH_NOT_FOUND (3): the path below the missing drive cannot be
// parsed. Wine 8 fails the same call with ERROR_FILE_NOT_FOUND (2).
DWORD MissingDriveError() {
    return RunningUnderWine() ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

std::wstring OwnExecutable() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

std::wstring FolderOf(const std::wstring& file) { return file.substr(0, file.rfind(L'\\') + 1); }

// Runs a program with the given working folder and returns what it wrote to
// its standard output (UTF-16), or fails the test.
std::wstring RunAndCapture(const std::wstring& program, const std::wstring& workingFolder) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    QvCommon::UniqueHandle readEnd, writeEnd;
    EXPECT_TRUE(::CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0));
    ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    startup.hStdInput = nullptr;
    PROCESS_INFORMATION info = {};
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!::CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                          workingFolder.c_str(), &startup, &info)) {
        ADD_FAILURE() << "CreateProcessW: " << ::GetLastError();
        return std::wstring();
    }
    QvCommon::UniqueHandle process(info.hProcess), thread(info.hThread);
    writeEnd.reset();   // the child's end stays open only in the child

    std::string bytes;
    char buffer[512];
    DWORD read = 0;
    while (::ReadFile(readEnd.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.get(), 30000));
    DWORD exitCode = 1;
    ::GetExitCodeProcess(process.get(), &exitCode);
    EXPECT_EQ(0u, exitCode);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()),
                        bytes.size() / sizeof(wchar_t));
}

} // namespace

// "Language" first; only when it cannot be read does the product language fall
// back to the installer's culture name, never to "EN-US".
TEST(ProductLanguage, LanguageAndItsFallbacks) {
    struct Case {
        const char* what;
        bool languagePresent;
        DWORD languageType;
        std::wstring language;
        bool culturePresent;
        std::wstring culture;
        std::wstring expectedLanguage;
        DWORD expectedError;
        std::wstring expectedProductLanguage;
    };
    const Case cases[] = {
        {"both set", true, REG_SZ, L"FR-FR", true, L"de-DE", L"FR-FR", 0, L"FR-FR"},
        {"language missing", false, REG_SZ, L"", true, L"de-DE", L"EN-US", 1, L"de-DE"},
        {"both missing", false, REG_SZ, L"", false, L"", L"EN-US", 1, L""},
        {"language of another type", true, REG_DWORD, L"", true, L"ja-JP", L"EN-US", 1, L"ja-JP"},
        {"language empty but present", true, REG_SZ, L"", true, L"de-DE", L"", 0, L""},
        {"language unexpanded", true, REG_EXPAND_SZ, L"%LANG%", true, L"", L"%LANG%", 0, L"%LANG%"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // The redirected view holds decoys that must never be read.
        RegistryScope language32(KEY_WOW64_32KEY, QV_PRODUCT_KEY, QV_VALUE_LANGUAGE, L"XX-32");
        RegistryScope culture32(KEY_WOW64_32KEY, QV_PRODUCT_KEY, QV_VALUE_INSTALL_CULTURE, L"xx-32");
        std::vector<BYTE> languageData = c.languageType == REG_DWORD
                                             ? std::vector<BYTE>{1, 0, 0, 0}
                                             : RegistryScope::Bytes(c.language);
        RegistryScope language = c.languagePresent
            ? RegistryScope(KEY_WOW64_64KEY, QV_PRODUCT_KEY, QV_VALUE_LANGUAGE, c.languageType,
                            languageData)
            : RegistryScope(KEY_WOW64_64KEY, QV_PRODUCT_KEY, QV_VALUE_LANGUAGE, RegAbsent{});
        RegistryScope culture = c.culturePresent
            ? RegistryScope(KEY_WOW64_64KEY, QV_PRODUCT_KEY, QV_VALUE_INSTALL_CULTURE, c.culture)
            : RegistryScope(KEY_WOW64_64KEY, QV_PRODUCT_KEY, QV_VALUE_INSTALL_CULTURE, RegAbsent{});

        DWORD error = 0xDEAD;
        EXPECT_EQ(c.expectedLanguage, Frwk::Utility::GetLanguage(&error));
        EXPECT_EQ(c.expectedError, error);
        EXPECT_EQ(c.expectedProductLanguage, KelCommon::GetProductLanguage());
        EXPECT_EQ(c.culturePresent ? c.culture : L"", KelCommon::GetInstallLangCultureName());
    }
}

TEST(InstalledFolder, ReturnedAsStoredFromThe64BitView) {
    struct Case {
        const char* what;
        bool present;
        std::wstring stored;
        std::wstring expected;
    };
    const Case cases[] = {
        {"no trailing backslash", true, L"C:\\Quorvane\\NORDAL", L"C:\\Quorvane\\NORDAL"},
        {"trailing backslash", true, L"C:\\Quorvane\\NORDAL\\", L"C:\\Quorvane\\NORDAL\\"},
        {"missing", false, L"", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RegistryScope decoy(KEY_WOW64_32KEY, QV_PRODUCT_KEY, QV_VALUE_PRODUCT_PATH, L"C:\\Decoy32\\");
        RegistryScope value = c.present
            ? RegistryScope(KEY_WOW64_64KEY, QV_PRODUCT_KEY, QV_VALUE_PRODUCT_PATH, c.stored)
            : RegistryScope(KEY_WOW64_64KEY, QV_PRODUCT_KEY, QV_VALUE_PRODUCT_PATH, RegAbsent{});
        EXPECT_EQ(c.expected, Frwk::Utility::GetInstalledFolder());
    }
}

TEST(CreateSpecifiedFolder, CreatesMissingFoldersAlongThePath) {
    TempFolder base;
    ASSERT_TRUE(::CreateDirectoryW((base.Path() + L"existing").c_str(), nullptr));
    KelTest::Files::WriteText(base.Path() + L"file.txt", "x");
    const std::wstring missingDrive = MissingDrive();
    ASSERT_FALSE(missingDrive.empty()) << "every drive letter is mapped";
    // Directly below the drive root, outside the test's own folder: removed
    // again should a faulty walk create it.
    const std::wstring oneSeparator =
        L"C:\\kel_one_separator_" + std::to_wstring(::GetCurrentProcessId());
    struct Remover {
        const std::wstring& path;
        ~Remover() { ::RemoveDirectoryW(path.c_str()); }
    } remover{oneSeparator};
    ASSERT_FALSE(IsFolder(oneSeparator)) << "left over from an earlier run";

    struct Case {
        const char* what;
        std::wstring folder;
        bool result;
        bool existed;
        DWORD error;        // last error after a failure
        std::wstring made;  // a folder that must exist afterwards
    };
    const std::wstring& b = base.Path();
    const Case cases[] = {
        {"nested new folders", b + L"a\\b\\c", true, false, 0, b + L"a\\b\\c"},
        {"trailing backslash", b + L"t\\u\\", true, false, 0, b + L"t\\u"},
        {"below an existing folder", b + L"existing\\new", true, false, 0, b + L"existing\\new"},
        {"doubled separator", b + L"d\\\\e", true, false, 0, b + L"d\\e"},
        {"existing folder", b + L"existing", true, true, 0, b + L"existing"},
        {"existing file counts as there", b + L"file.txt", true, true, 0, L""},
        {"below a file", b + L"file.txt\\sub", false, false, ERROR_PATH_NOT_FOUND, L""},
        {"empty path", L"", false, false, ERROR_BAD_ARGUMENTS, L""},
        {"one separator only", oneSeparator, false, false, ERROR_BAD_ARGUMENTS, L""},
        {"missing drive", missingDrive + L"\\kel\\dumps", false, false, MissingDriveError(), L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bool existed = !c.existed;   // must be overwritten either way
        ::SetLastError(0);
        EXPECT_EQ(c.result, Frwk::Utility::CreateSpecifiedFolder(c.folder, existed));
        EXPECT_EQ(c.existed, existed);
        if (!c.result) {
            EXPECT_EQ(c.error, ::GetLastError());
            if (!c.folder.empty()) {
                EXPECT_FALSE(IsFolder(c.folder));
            }
        }
        if (!c.made.empty()) {
            EXPECT_TRUE(IsFolder(c.made));
        }
    }
}

TEST(DumpFolder, InteractiveSessionFolderCreatedWhenMissing) {
    TempFolder base;
    const std::wstring interactive = base.Path() + L"Interactive\\Dumps";
    RegistryScope folder(KEY_WOW64_64KEY, INTERACTIVE_KEY, QV_VALUE_LOG_FOLDER, interactive);
    // A process of the interactive session reads neither of these.
    RegistryScope protectedFolder(KEY_WOW64_64KEY, PROTECTED_KEY, QV_VALUE_LOG_FOLDER,
                                  base.Path() + L"Protected");
    RegistryScope serviceFolder(KEY_WOW64_64KEY, SERVICE_KEY, QV_VALUE_LOG_FOLDER,
                                base.Path() + L"Service");

    EXPECT_EQ(interactive, Frwk::Utility::GetDumpFolder());
    EXPECT_TRUE(IsFolder(interactive));
    EXPECT_FALSE(IsFolder(base.Path() + L"Protected"));
    EXPECT_FALSE(IsFolder(base.Path() + L"Service"));

    // The second call finds it and returns it the same.
    EXPECT_EQ(interactive, Frwk::Utility::GetDumpFolder());
}

TEST(DumpFolder, ReturnedAsStoredEvenWhenItCannotBeMade) {
    const std::wstring missingDrive = MissingDrive();
    ASSERT_FALSE(missingDrive.empty());
    TempFolder base;
    struct Case {
        const char* what;
        REGSAM view;
        bool present;
        std::wstring stored;
        std::wstring expected;
    };
    const Case cases[] = {
        {"on a missing drive", KEY_WOW64_64KEY, true, missingDrive + L"\\Dumps\\",
         missingDrive + L"\\Dumps\\"},
        {"with trailing backslash", KEY_WOW64_64KEY, true, base.Path() + L"x\\",
         base.Path() + L"x\\"},
        {"not set", KEY_WOW64_64KEY, false, L"", L""},
        {"set in the redirected view only", KEY_WOW64_32KEY, true, base.Path() + L"y", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RegistryScope absent64(KEY_WOW64_64KEY, INTERACTIVE_KEY, QV_VALUE_LOG_FOLDER, RegAbsent{});
        RegistryScope value = c.present
            ? RegistryScope(c.view, INTERACTIVE_KEY, QV_VALUE_LOG_FOLDER, c.stored)
            : RegistryScope(c.view, INTERACTIVE_KEY, QV_VALUE_LOG_FOLDER, RegAbsent{});
        EXPECT_EQ(c.expected, Frwk::Utility::GetDumpFolder());
    }
    EXPECT_FALSE(IsFolder(missingDrive + L"\\Dumps"));
    EXPECT_TRUE(IsFolder(base.Path() + L"x"));
    EXPECT_FALSE(IsFolder(base.Path() + L"y"));
}

TEST(ModuleFolder, IsTheExecutablesFolderWithBackslash) {
    const std::wstring folder = GetModuleFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(L'\\', folder.back());
    EXPECT_EQ(0, _wcsicmp(FolderOf(OwnExecutable()).c_str(), folder.c_str()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW((folder + L"storage_tests.exe").c_str()));
}

// A program started from the root of drive C gets "C:\" as its module folder.
// The probe is copied there and started with the build's binary folder as its
// working folder, where the loader finds the C++ runtime DLLs.
TEST(ModuleFolder, ProgramInDriveRootGetsDriveAndOneBackslash) {
    const std::wstring binFolder = FolderOf(OwnExecutable());
    const std::wstring probe =
        L"C:\\kel_folder_probe_" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
    ASSERT_TRUE(::CopyFileW((binFolder + L"folder_probe.exe").c_str(), probe.c_str(), FALSE))
        << ::GetLastError();
    std::wstring printed = RunAndCapture(probe, binFolder);
    ::DeleteFileW(probe.c_str());
    EXPECT_EQ(L"C:\\", printed);

    // The same probe from its build folder prints that folder.
    EXPECT_EQ(0, _wcsicmp(binFolder.c_str(),
                          RunAndCapture(binFolder + L"folder_probe.exe", binFolder).c_str()));
}

TEST(ShellFolders, DesktopAndDocumentsEndInBackslash) {
    struct Case {
        const char* what;
        std::wstring folder;
    };
    const Case cases[] = {
        {"desktop", GetUserDesktopPath()},
        {"documents", GetUserDocumentsPath()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.folder.empty());
        EXPECT_EQ(L'\\', c.folder.back());
        EXPECT_NE(L'\\', c.folder[c.folder.size() - 2]);
        EXPECT_TRUE(IsFolder(c.folder));
    }
    EXPECT_NE(cases[0].folder, cases[1].folder);
}

// What the operations write to the debug log, read back from the files of the
// real tracing library: each case's lines, with their level markers, and
// nothing at all for a dump folder that is already there.
TEST(FolderLog, FailuresAreLoggedWithTheirCodes) {
    const std::wstring missingDrive = MissingDrive();
    ASSERT_FALSE(missingDrive.empty());
    TempFolder existing;
    KelTest::CapturedLog log;
    ASSERT_TRUE(log.Initialized());

    wchar_t driveError[16];
    swprintf(driveError, 16, L"[0x%08x]", static_cast<unsigned>(MissingDriveError()));
    const std::wstring missingDumps = missingDrive + L"\\Dumps\\";
    struct Line {
        const char* marker;
        std::wstring text;
    };
    struct Case {
        const char* what;
        std::function<void()> action;
        std::vector<Line> lines;   // empty: nothing may be written
    };
    const Case cases[] = {
        {"installed folder missing", [] {
             RegistryScope absent(KEY_WOW64_64KEY, QV_PRODUCT_KEY, QV_VALUE_PRODUCT_PATH, RegAbsent{});
             Frwk::Utility::GetInstalledFolder();
         }, {{"!!!", L"*** Frwk::Utility::GetInstalledFolder() -  Got QvCommon::Storage::Exception(). [0x00000002]"}}},
        {"language of another type", [] {
             RegistryScope number(KEY_WOW64_64KEY, QV_PRODUCT_KEY, QV_VALUE_LANGUAGE, DWORD{7});
             Frwk::Utility::GetLanguage();
         }, {{"!!!", L"*** Frwk::Utility::GetLanguage() -  Got QvCommon::Storage::Exception(). [0x0000000d]"}}},
        {"culture name", [] {
             RegistryScope culture(KEY_WOW64_64KEY, QV_PRODUCT_KEY, QV_VALUE_INSTALL_CULTURE, L"de-DE");
             KelCommon::GetInstallLangCultureName();
         }, {{".w.", L"[Enter] Frwk::Utility::GetStrFromHKLM_NORDAL()..."},
             {".w.", L"[Leave] Frwk::Utility::GetStrFromHKLM_NORDAL()..."},
             {"@@@", L"Frwk::Utility::GetStrFromHKLM_NORDAL() returns 'de-DE'"}}},
        {"dump folder not set", [] {
             RegistryScope absent(KEY_WOW64_64KEY, INTERACTIVE_KEY, QV_VALUE_LOG_FOLDER, RegAbsent{});
             Frwk::Utility::GetDumpFolder();
         }, {{"!!!", L"Frwk::Utility::GetDumpFolder() - tsFolder is empty."}}},
        {"dump folder on a missing drive", [&missingDumps] {
             RegistryScope folder(KEY_WOW64_64KEY, INTERACTIVE_KEY, QV_VALUE_LOG_FOLDER, missingDumps);
             Frwk::Utility::GetDumpFolder();
         }, {{"!!!", L"Frwk::Utility::CreateSpecifiedFolder() - QvCommon::Storage::File::CreateDirectory() was failed. " +
                     std::wstring(driveError)},
             {"!!!", L"Frwk::Utility::GetDumpFolder() - Frwk::Utility::CreateSpecifiedFolder(" +
                     missingDumps + L") was failed."}}},
        {"dump folder already there", [&existing] {
             RegistryScope folder(KEY_WOW64_64KEY, INTERACTIVE_KEY, QV_VALUE_LOG_FOLDER, existing.Path());
             Frwk::Utility::GetDumpFolder();
         }, {}},
        {"empty folder", [] {
             bool existed = false;
             Frwk::Utility::CreateSpecifiedFolder(L"", existed);
         }, {{"!!!", L"Frwk::Utility::CreateSpecifiedFolder() - Specified length was invalid."}}},
        {"one separator", [&missingDrive] {
             bool existed = false;
             Frwk::Utility::CreateSpecifiedFolder(missingDrive + L"\\kel", existed);
         }, {{"!!!", L"Frwk::Utility::CreateSpecifiedFolder() - QvCommon::Storage::File::CreateDirectory() was failed. [0x000000a0]"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t before = log.Text().size();
        c.action();
        // The tracing library has written a line when its trace call returns.
        std::string written = log.Text().substr(before);
        if (c.lines.empty()) {
            EXPECT_EQ("", written);
        }
        size_t position = 0;
        for (const Line& line : c.lines) {
            const std::string text = KelTest::Narrow(line.text);
            size_t found = written.find(text, position);
            ASSERT_NE(std::string::npos, found) << text << "\nin:\n" << written;
            const size_t lineStart = written.rfind('\n', found) + 1;   // npos + 1 is 0
            const std::string head = written.substr(lineStart, found - lineStart);
            EXPECT_NE(std::string::npos, head.find(std::string(" ") + line.marker + " ")) << head;
            position = found + text.size();
        }
    }
}
