// The debug log's configuration and life cycle, end to end: settings in the
// registry or an INI file, the real QvDbg32.dll, the files it writes.
#include "DebugLogFixture.h"

#include <tuple>

using QvCommon::DebugLog;
using namespace KelTest;

// Before initialisation, and when a storage kind the log does not know, a
// library that cannot be loaded, lacks an entry point, or cannot open a session
// fails it, the module is let go and every call is dropped with false; so it
// is after the log was uninitialised.
TEST_F(DebugLogTest, CallsOutsideAWorkingInitialisationAreDropped) {
    EXPECT_FALSE(QVLOG(QVLOG_ERROR, L"before"));
    EXPECT_FALSE(DebugLog::Instance().Uninitialize());
    // folderIsAFile: the real library cannot create its folder.
    struct Case { const wchar_t* label; DWORD storageKind; const wchar_t* libraryFolder; bool folderIsAFile; } cases[] = {
        {L"storage kind 2", 2, LIBRARY_FOLDER, false},
        {L"no library in the folder", QVSTORAGE_REGISTRY, L".\\no_such_folder", false},
        {L"missing QvDbgTrace", QVSTORAGE_REGISTRY, L".\\qvdbg_missing_export", false},
        {L"session handle 0", QVSTORAGE_REGISTRY, L".\\qvdbg_zero_handle", false},
        {L"QvDbgInitialize fails", QVSTORAGE_REGISTRY, LIBRARY_FOLDER, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(c.label)));
        const std::wstring logFolder = c.folderIsAFile ? InFolder(L"occupied") : m_folder.Path();
        if (c.folderIsAFile) { ASSERT_TRUE(WriteText(logFolder, "a file, not a folder")); }
        ASSERT_TRUE(m_key.Set(LogSettings(0x111, logFolder), QV_DEBUGLOG_INTERACTIVE));
        QvCommon::Storage::Key location(c.storageKind, HKEY_LOCAL_MACHINE, m_key.Path());
        EXPECT_FALSE(DebugLog::Instance().Initialize(TEST_MODULE, location, c.libraryFolder,
                                                     QVLOG_SESSION_INTERACTIVE));
        EXPECT_FALSE(IsQvDbgLoaded());
        EXPECT_FALSE(QVLOG(QVLOG_ERROR, L"dropped"));
        EXPECT_FALSE(QVLOG_DUMP(QVLOG_ERROR, "abc", 3));
        EXPECT_FALSE(DebugLog::Instance().Uninitialize());
        ::DeleteFileW(logFolder.c_str());
    }
    // The log recovers once the library is there; kind 4 is the registry too.
    Configure(QVLOG_ERROR);
    QvCommon::Storage::Key alternative(QVSTORAGE_REGISTRY_ALT, HKEY_LOCAL_MACHINE, m_key.Path());
    ASSERT_TRUE(DebugLog::Instance().Initialize(TEST_MODULE, alternative, LIBRARY_FOLDER, QVLOG_SESSION_INTERACTIVE));
    EXPECT_TRUE(QVLOG(QVLOG_ERROR, L"written"));
    EXPECT_TRUE(DebugLog::Instance().Uninitialize());
    EXPECT_FALSE(QVLOG(QVLOG_ERROR, L"after"));
    EXPECT_FALSE(IsQvDbgLoaded());
    const std::vector<LogLine> lines = ParsedLines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(L"written", lines[0].message);
}

TEST_F(DebugLogTest, IniFileTakesDefaultsForMissingValues) {
    // section: after "[InteractiveSession]".
    struct Case { const char* section; const wchar_t* prefix; const wchar_t* file; DWORD mask; } cases[] = {
        // Nothing but the folder: "Enable" 1, "Level" 0x100, "NORDAL", "log".
        {"", L"NORDAL", L"", QVLOG_ERROR},
        // Decimal, which every Windows version's INI reader understands.
        {"Level=273\r\nLogFile=Custom\r\nLogPrefix=Pre\r\n", L"Pre", L"Custom", 0x111},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.section);
        TempFolder folder, logs;
        ASSERT_TRUE(WriteText(Join(folder.Path(), L"DebugLog.ini"),
                              "[InteractiveSession]\r\nLogFolder=" + Narrow(logs.Path()) + "\r\n" + c.section));
        // The folder without its "\": the INI storage puts one in.
        const std::wstring iniFolder = folder.Path().substr(0, folder.Path().size() - 1);
        ASSERT_TRUE(DebugLog::Instance().Initialize(TEST_MODULE, QvCommon::Storage::Key(iniFolder, L"DebugLog.ini"),
                                                    LIBRARY_FOLDER, QVLOG_SESSION_INTERACTIVE));
        const QvDbgConfig& config = DebugLog::Instance().GetConfig();
        EXPECT_EQ(c.prefix, Field(config.logPrefix));
        EXPECT_EQ(c.file, Field(config.logFile));
        EXPECT_EQ(L"log", Field(config.logExtension));
        EXPECT_EQ(logs.Path(), Field(config.logFolder));
        EXPECT_EQ(0u, config.logProcess + config.logUnitType + config.robust + config.debugger);

        for (DWORD level : {QVLOG_TRACE, QVLOG_INFO, QVLOG_ERROR})
            EXPECT_EQ((c.mask & level) != 0, QVLOG(level, L"level 0x%x", level)) << level;
        ASSERT_TRUE(DebugLog::Instance().Uninitialize());
        EXPECT_EQ(c.mask == 0x111 ? 3u : 1u, Lines(logs.Path()).size());
    }
}

// What the log reads from its key into the tracing library's record: the
// session's subkey, values in order up to the first one missing or of the
// wrong type; and what the log calls answer then (true without writing while
// logging is off).
TEST_F(DebugLogTest, RecordFollowsTheSettings) {
    using V = RegistryValue;
    auto off = [](std::vector<RegistryValue> values) {   // "Enable" 0 and "Level" 0x111 first
        values.insert(values.begin(), {V::Dword(QV_VALUE_LOG_ENABLE, 0), V::Dword(QV_VALUE_LOG_LEVEL, 0x111)});
        return values;
    };
    auto session = [&](const wchar_t* prefix) {
        return off({V::Dword(QV_VALUE_LOG_PROCESS, 0), V::Dword(QV_VALUE_LOG_UNIT_TYPE, 0),
                    V::String(QV_VALUE_LOG_FOLDER, L""), V::String(QV_VALUE_LOG_PREFIX, prefix)});
    };
    using Subkeys = std::vector<std::pair<std::wstring, std::vector<RegistryValue>>>;
    const Subkeys sessions = {{QV_DEBUGLOG_INTERACTIVE, session(L"interactive")},
                              {QV_DEBUGLOG_SERVICE, session(L"service")},
                              {QV_DEBUGLOG_PROTECTED, session(L"protected")}};
    auto interactive = [](std::vector<RegistryValue> values) { return Subkeys{{QV_DEBUGLOG_INTERACTIVE, values}}; };
    // "LogProcess", "LogUnitType", the folder as given and "LogPrefix" P, then more.
    auto upToPrefix = [&](V folder, DWORD process = 0, DWORD unit = 0, std::vector<RegistryValue> more = {}) {
        more.insert(more.begin(), {V::Dword(QV_VALUE_LOG_PROCESS, process), V::Dword(QV_VALUE_LOG_UNIT_TYPE, unit),
                                   folder, V::String(QV_VALUE_LOG_PREFIX, L"P")});
        return interactive(off(more));
    };
    // answered: the levels whose calls answer true.
    struct Case {
        const char* label; Subkeys subkeys; DWORD kind; bool loaded; DWORD answered;
        DWORD logProcess, logUnitType; std::wstring folder, prefix; BYTE robust, service, protectedSession;
    } cases[] = {
        {"no session subkey", {{L"SomethingElse", {V::Dword(QV_VALUE_LOG_ENABLE, 1)}}}, QVLOG_SESSION_INTERACTIVE,
         false, 0x111, 0, 0, L"", L"", 0, 0, 0},
        // The reading stops at "Level": the mask is the error level, the record holds no strings.
        {"Enable alone", interactive({V::Dword(QV_VALUE_LOG_ENABLE, 1)}), QVLOG_SESSION_INTERACTIVE, true, 0x100, 0, 0,
         L"", L"", 0, 0, 0},
        {"LogFolder as DWORD", upToPrefix(V::Dword(QV_VALUE_LOG_FOLDER, 5), 3, 4), QVLOG_SESSION_INTERACTIVE, false,
         0x111, 3, 4, L"", L"", 0, 0, 0},
        {"LogExtension missing",
         upToPrefix(V::String(QV_VALUE_LOG_FOLDER, L"F"), 3, 4,
                    {V::String(QV_VALUE_LOG_FILE, L"L"), V::Dword(QV_VALUE_LOG_ROBUST, 1)}),
         QVLOG_SESSION_INTERACTIVE, false, 0x111, 3, 4, L"F", L"P", 0, 0, 0},
        // Every string is cut inside its field (module name and record go to the
        // library as they are); a number read as a flag is stored as 1.
        {"overlong strings", interactive(off({V::Dword(QV_VALUE_LOG_PROCESS, 7), V::Dword(QV_VALUE_LOG_UNIT_TYPE, 9),
                                              V::String(QV_VALUE_LOG_FOLDER, std::wstring(600, L'F')),
                                              V::String(QV_VALUE_LOG_PREFIX, std::wstring(600, L'P')),
                                              V::String(QV_VALUE_LOG_FILE, L"L"), V::String(QV_VALUE_LOG_EXTENSION, L"E"),
                                              V::Dword(QV_VALUE_LOG_ROBUST, 0x100)})),
         QVLOG_SESSION_INTERACTIVE, false, 0x111, 7, 9, std::wstring(259, L'F'), std::wstring(255, L'P'), 1, 0, 0},
        {"service session", sessions, QVLOG_SESSION_SERVICE, false, 0x111, 0, 0, L"", L"service", 0, 1, 0},
        {"protected session", sessions, QVLOG_SESSION_PROTECTED, false, 0x111, 0, 0, L"", L"protected", 0, 0, 1},
        // A kind above 3 means detect: this test runs in a user's session at
        // medium integrity (under Wine always session 1).
        {"kind 4", sessions, 4, false, 0x111, 0, 0, L"", L"interactive", 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TestRegistryKey key;
        for (const auto& subkey : c.subkeys) ASSERT_TRUE(key.Set(subkey.second, subkey.first));
        ASSERT_TRUE(DebugLog::Instance().Initialize(TEST_MODULE, key.Location(), LIBRARY_FOLDER, c.kind));
        EXPECT_EQ(c.loaded, IsQvDbgLoaded());
        const QvDbgConfig& config = DebugLog::Instance().GetConfig();
        EXPECT_EQ(TEST_MODULE, Field(config.moduleName));
        EXPECT_EQ(c.folder, Field(config.logFolder));
        EXPECT_EQ(c.prefix, Field(config.logPrefix));
        EXPECT_EQ(std::make_tuple(c.logProcess, c.logUnitType, c.robust, c.service, c.protectedSession),
                  std::make_tuple(config.logProcess, config.logUnitType, config.robust, config.serviceSession,
                                  config.protectedSession));
        for (DWORD level : {QVLOG_TRACE, QVLOG_INFO, QVLOG_ERROR})
            EXPECT_EQ((c.answered & level) != 0, QVLOG(level, L"level 0x%x", level)) << level;
        EXPECT_TRUE(DebugLog::Instance().Uninitialize());
    }
    EXPECT_TRUE(FileNames(m_folder.Path()).empty()) << "nothing was written while logging was off";
    // The "Enable alone" line went to the library's default folder.
    const std::wstring defaults = TempPath() + L"QvDbg\\";
    for (const std::wstring& name : FileNames(defaults))
        if (name.rfind(TEST_MODULE, 0) == 0) ::DeleteFileW((defaults + name).c_str());
}
