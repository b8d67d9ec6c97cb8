// The tracing library through its three exports, loaded from the binary
// folder as the agent loads it: folders, file names and what the files hold.
// Sharing a file between processes is the debug log's concurrency test, and
// the UTF-8 of the text its long-message test.
#include <gtest/gtest.h>
#include <windows.h>
#include <cwchar>
#include <string>
#include <vector>
#include "QvDbgConfig.h"
#include "QvHandle.h"
#include "TestSupport.h"

using namespace KelTest;

namespace {

constexpr wchar_t LIBRARY_PATH[] = L".\\" QVDBG_LIBRARY_NAME;
const SYSTEMTIME LAST_DAY_OF_2025 = {2025, 12, 3, 31, 23, 59, 59, 999};
const SYSTEMTIME FIRST_DAY_OF_2026 = {2026, 1, 4, 1, 0, 0, 0, 0};

// The settings of one session; the folder is set apart.
struct Settings { std::wstring folder, prefix{}, file{}, extension{}, module = L"KelConsole"; DWORD logProcess = 0; };

class QvDbg32Test : public ::testing::Test {
protected:
    void SetUp() override {
        m_module.reset(::LoadLibraryW(LIBRARY_PATH));
        ASSERT_TRUE(m_module) << ::GetLastError();
        Bind(m_initialize, QVDBG_ENTRY_INITIALIZE);
        Bind(m_trace, QVDBG_ENTRY_TRACE);
        Bind(m_uninitialize, QVDBG_ENTRY_UNINITIALIZE);
        ASSERT_TRUE(m_initialize && m_trace && m_uninitialize);
    }

    template <typename Entry>
    void Bind(Entry& entry, const char* name) {
        entry = reinterpret_cast<Entry>(
            reinterpret_cast<void*>(::GetProcAddress(m_module.get(), name)));
    }

    // A session on the settings; 0 when it could not be opened.
    DWORD Open(const Settings& settings) {
        QvDbgConfig config = {};
        auto copy = [](auto& to, const std::wstring& from) { wcsncpy_s(to, std::size(to), from.c_str(), _TRUNCATE); };
        copy(config.logFolder, settings.folder); copy(config.logPrefix, settings.prefix);
        copy(config.logFile, settings.file); copy(config.logExtension, settings.extension);
        copy(config.moduleName, settings.module);
        config.logProcess = settings.logProcess;
        DWORD handle = 0;
        EXPECT_EQ(0u, m_initialize(&handle, &config));
        EXPECT_NE(0u, handle);
        return handle;
    }

    std::wstring At(const std::wstring& name) const { return Join(m_folder.Path(), name); }

    TempFolder m_folder;
    QvCommon::UniqueModule m_module;
    PFN_QvDbgInitialize m_initialize = nullptr;
    PFN_QvDbgTrace m_trace = nullptr;
    PFN_QvDbgUninitialize m_uninitialize = nullptr;
};

} // namespace

TEST_F(QvDbg32Test, FileNameFollowsTheSettings) {
    const std::wstring pid = std::to_wstring(::GetCurrentProcessId());
    struct Case { Settings settings; std::wstring expected; } cases[] = {   // folders left empty here
        {{L"", L"NORDAL", L"", L"log"}, L"NORDAL_KelConsole_2025-12-31.log"},
        {{L"", L"NORDAL", L"Agent", L"txt"}, L"NORDAL_Agent_2025-12-31.txt"},
        {{L"", L"", L"", L""}, L"KelConsole_2025-12-31.log"},
        {{L"", L"NORDAL", L"", L"..log", L"KelConsole", 1}, L"NORDAL_KelConsole_2025-12-31_pid" + pid + L".log"},
        {{L"", L"a:b", L"x/y\\z", L"l?g"}, L"a_b_x_y_z_2025-12-31.l_g"},
        {{L"", L"", L"", L"", L""}, L"QvDbg_2025-12-31.log"},
    };
    int index = 0;
    for (Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.expected));
        c.settings.folder = At(std::to_wstring(index++));
        DWORD handle = Open(c.settings);
        EXPECT_EQ(0u, m_trace(handle, &LAST_DAY_OF_2025, L"line\r\n"));
        EXPECT_EQ(0u, m_uninitialize(handle));
        EXPECT_EQ(std::vector<std::wstring>{c.expected}, FileNames(c.settings.folder));
    }
}

TEST_F(QvDbg32Test, EachDayHasItsFile) {
    DWORD handle = Open(Settings{m_folder.Path()});
    EXPECT_EQ(0u, m_trace(handle, &LAST_DAY_OF_2025, L"one\r\n"));
    EXPECT_EQ(0u, m_trace(handle, &FIRST_DAY_OF_2026, L"two\r\n"));
    // The time passed decides, not the order of the calls.
    EXPECT_EQ(0u, m_trace(handle, &LAST_DAY_OF_2025, L"three\r\n"));
    EXPECT_EQ(0u, m_uninitialize(handle));
    EXPECT_EQ((std::vector<std::wstring>{L"KelConsole_2025-12-31.log", L"KelConsole_2026-01-01.log"}),
              FileNames(m_folder.Path()));
    EXPECT_EQ("one\r\nthree\r\n", ReadBytes(At(L"KelConsole_2025-12-31.log")));
    EXPECT_EQ("two\r\n", ReadBytes(At(L"KelConsole_2026-01-01.log")));
}

TEST_F(QvDbg32Test, FolderIsResolvedAndCreatedAtInitialisation) {
    KelTest::EnvironmentScope variable(L"KEL_QVDBG_TEST_FOLDER", m_folder.Path());
    wchar_t current[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, current);
    struct Case { std::wstring configured; std::wstring created; } cases[] = {
        {At(L"a\\b\\c"), At(L"a\\b\\c")},
        {L"%KEL_QVDBG_TEST_FOLDER%\\expanded", At(L"expanded")},
        // Taken from the current folder when the session opens.
        {L"relative", At(L"relative")},
        // None configured: the library's own below the temp folder.
        {L"", TempPath() + L"QvDbg"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.configured));
        const std::wstring file = c.created + L"\\KelConsole_2025-12-31.log";
        ::DeleteFileW(file.c_str());   // an earlier run's, in the shared default folder
        ASSERT_TRUE(::SetCurrentDirectoryW(m_folder.Path().c_str()));
        DWORD handle = Open(Settings{c.configured});
        ASSERT_TRUE(::SetCurrentDirectoryW(current));
        EXPECT_TRUE(IsFolder(c.created));
        EXPECT_EQ(0u, m_trace(handle, &LAST_DAY_OF_2025, L"here\r\n"));
        EXPECT_EQ(0u, m_uninitialize(handle));
        EXPECT_EQ("here\r\n", ReadBytes(file));
        ::DeleteFileW(file.c_str());
    }
}
