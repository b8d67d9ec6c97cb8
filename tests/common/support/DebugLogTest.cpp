// The debug log's configuration and life cycle, end to end: settings in the
// registry or an INI file, the real QvDbg32.dll, the files it writes.
#include "DebugLogFixture.h"

#include <algorithm>
#include <cstddef>

using QvCommon::DebugLog;
using namespace KelTest;

namespace {
const DebugLog& Log() { return DebugLog::Instance(); }
} // namespace

TEST_F(DebugLogTest, CallsOutsideInitialisationAreDropped) {
    Configure(QVLOG_ERROR);
    EXPECT_FALSE(QVLOG(QVLOG_ERROR, L"before"));
    EXPECT_FALSE(DebugLog::Instance().Uninitialize());
    ASSERT_TRUE(Initialize());
    EXPECT_TRUE(QVLOG(QVLOG_ERROR, L"during"));
    EXPECT_TRUE(DebugLog::Instance().Uninitialize());
    EXPECT_FALSE(QVLOG(QVLOG_ERROR, L"after"));
    EXPECT_FALSE(QVLOG_DUMP(QVLOG_ERROR, "x", 1));
    EXPECT_FALSE(DebugLog::Instance().Uninitialize());
    EXPECT_FALSE(IsQvDbgLoaded());

    std::vector<LogLine> lines = ParsedLines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(L"during", lines[0].message);
}

TEST_F(DebugLogTest, NoSessionSubkeyMeansOffWithoutTheLibrary) {
    ASSERT_TRUE(m_key.SetDword(QV_VALUE_LOG_ENABLE, 1, L"SomethingElse"));
    ASSERT_TRUE(Initialize());
    EXPECT_FALSE(IsQvDbgLoaded());
    // Disabled, a call "succeeds" without doing anything.
    EXPECT_TRUE(QVLOG(QVLOG_ERROR, L"not written"));
    EXPECT_TRUE(QVLOG_DUMP(QVLOG_ERROR, "abc", 3));
    EXPECT_FALSE(IsQvDbgLoaded());
    EXPECT_TRUE(FileNames(m_folder.Path()).empty());
    EXPECT_EQ(L"", Field(Log().GetConfig().logFolder));   // nothing was read
}

TEST_F(DebugLogTest, EnableAloneLogsErrorsWithAnEmptyRecord) {
    // Only "Enable": the reading stops at "Level", so the mask is the error
    // level and the record carries no strings; the library then writes to its
    // default folder, "<temp>\QvDbg", under the module name.
    ASSERT_TRUE(m_key.SetDword(QV_VALUE_LOG_ENABLE, 1, QV_DEBUGLOG_INTERACTIVE));
    const std::wstring module = L"EnableAlone" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring before = TodayStamp();
    ASSERT_TRUE(DebugLog::Instance().Initialize(module, m_key.Location(), LIBRARY_FOLDER,
                                                QVLOG_SESSION_INTERACTIVE));
    EXPECT_TRUE(IsQvDbgLoaded());

    const QvDbgConfig& config = Log().GetConfig();
    EXPECT_EQ(module, Field(config.moduleName));
    for (const std::wstring& text : {Field(config.logFolder), Field(config.logPrefix),
                                     Field(config.logFile), Field(config.logExtension)})
        EXPECT_EQ(L"", text);
    EXPECT_EQ(0u, config.logProcess);
    EXPECT_EQ(0u, config.logUnitType);
    EXPECT_EQ(0, config.robust);
    EXPECT_EQ(0, config.debugger);
    EXPECT_EQ(0, config.serviceSession);
    EXPECT_EQ(0, config.protectedSession);
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    EXPECT_EQ(now.wYear, config.localTime.wYear);

    EXPECT_FALSE(QVLOG(QVLOG_TRACE, L"trace"));
    EXPECT_FALSE(QVLOG(QVLOG_INFO, L"info"));
    EXPECT_TRUE(QVLOG(QVLOG_ERROR, L"error"));
    ASSERT_TRUE(DebugLog::Instance().Uninitialize());
    const std::wstring after = TodayStamp();

    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    std::wstring text;
    for (const std::wstring& stamp : {before, after}) {   // the test may run over midnight
        const std::wstring path = std::wstring(temp) + L"QvDbg\\" + module + L"_" + stamp + L".log";
        text += Widen(ReadBytes(path));
        ::DeleteFileW(path.c_str());
        if (after == before) break;
    }
    std::vector<std::wstring> lines = SplitLines(text);
    LogLine line;
    ASSERT_EQ(1u, lines.size()) << ::testing::PrintToString(text);
    ASSERT_TRUE(ParseLogLine(lines[0], line));
    EXPECT_EQ(L"!!! error", line.marker + L" " + line.message);
}

TEST_F(DebugLogTest, UnknownStorageKindFailsInitialisation) {
    Configure(QVLOG_ERROR);
    for (DWORD kind : {2u, 3u, 5u, 0xFFFFFFFFu}) {
        QvCommon::Storage::Key location(kind, HKEY_LOCAL_MACHINE, m_key.Path());
        EXPECT_FALSE(DebugLog::Instance().Initialize(TEST_MODULE, location, LIBRARY_FOLDER,
                                                     QVLOG_SESSION_INTERACTIVE))
            << kind;
        EXPECT_FALSE(QVLOG(QVLOG_ERROR, L"dropped")) << kind;
    }
    EXPECT_FALSE(IsQvDbgLoaded());
    // Kind 4 is the registry too.
    QvCommon::Storage::Key alternative(QVSTORAGE_REGISTRY_ALT, HKEY_LOCAL_MACHINE, m_key.Path());
    EXPECT_TRUE(DebugLog::Instance().Initialize(TEST_MODULE, alternative, LIBRARY_FOLDER,
                                                QVLOG_SESSION_INTERACTIVE));
    EXPECT_TRUE(QVLOG(QVLOG_ERROR, L"written"));
    EXPECT_EQ(1u, Lines().size());
}

// A library that cannot be loaded, lacks an entry point, or cannot open a
// session: initialisation fails, the module is let go, and every later call is
// dropped with false.
TEST_F(DebugLogTest, UnusableLibraryFailsInitialisation) {
    struct Case {
        const wchar_t* label;
        const wchar_t* libraryFolder;
        bool folderIsAFile;   // the real library cannot create its folder
    } cases[] = {
        {L"no library in the folder", L".\\no_such_folder", false},
        {L"missing QvDbgTrace", L".\\qvdbg_missing_export", false},
        {L"session handle 0", L".\\qvdbg_zero_handle", false},
        {L"QvDbgInitialize fails", LIBRARY_FOLDER, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(c.label)));
        std::wstring logFolder = m_folder.Path();
        if (c.folderIsAFile) {
            logFolder = InFolder(L"occupied");
            ASSERT_TRUE(WriteText(logFolder, "a file, not a folder"));
        }
        ASSERT_TRUE(m_key.Set(LogSettings(0x111, logFolder), QV_DEBUGLOG_INTERACTIVE));
        EXPECT_FALSE(Initialize(c.libraryFolder));
        EXPECT_FALSE(IsQvDbgLoaded());
        EXPECT_FALSE(QVLOG(QVLOG_ERROR, L"dropped"));
        EXPECT_FALSE(QVLOG_DUMP(QVLOG_ERROR, "abc", 3));
        EXPECT_FALSE(DebugLog::Instance().Uninitialize());
        ::DeleteFileW(logFolder.c_str());
    }
    // The log recovers once the library is there.
    Configure(QVLOG_ERROR);
    ASSERT_TRUE(Initialize());
    EXPECT_TRUE(QVLOG(QVLOG_ERROR, L"written"));
    EXPECT_EQ(1u, Lines().size());
}

TEST_F(DebugLogTest, IniFileTakesDefaultsForMissingValues) {
    struct Case {
        const char* section;   // after "[InteractiveSession]"
        const wchar_t* prefix;
        const wchar_t* file;
        DWORD mask;
    } cases[] = {
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
        ASSERT_TRUE(DebugLog::Instance().Initialize(TEST_MODULE, QvCommon::Storage::Key(folder.Path(), L"DebugLog.ini"),
                                                    LIBRARY_FOLDER, QVLOG_SESSION_INTERACTIVE));
        const QvDbgConfig& config = Log().GetConfig();
        EXPECT_EQ(c.prefix, Field(config.logPrefix));
        EXPECT_EQ(c.file, Field(config.logFile));
        EXPECT_EQ(L"log", Field(config.logExtension));
        EXPECT_EQ(logs.Path(), Field(config.logFolder));
        EXPECT_EQ(0u, config.logProcess + config.logUnitType + config.robust + config.debugger);

        EXPECT_EQ((c.mask & QVLOG_TRACE) != 0, QVLOG(QVLOG_TRACE, L"trace"));
        EXPECT_EQ((c.mask & QVLOG_INFO) != 0, QVLOG(QVLOG_INFO, L"info"));
        EXPECT_TRUE(QVLOG(QVLOG_ERROR, L"error"));
        ASSERT_TRUE(DebugLog::Instance().Uninitialize());
        EXPECT_EQ(c.mask == 0x111 ? 3u : 1u, Lines(logs.Path()).size());
    }
}

TEST_F(DebugLogTest, SessionKindChoosesTheSubkey) {
    // Logging stays off here (Enable 0), so only the record is looked at.
    const std::pair<const wchar_t*, const wchar_t*> subkeys[] = {
        {QV_DEBUGLOG_INTERACTIVE, L"interactive"},
        {QV_DEBUGLOG_SERVICE, L"service"},
        {QV_DEBUGLOG_PROTECTED, L"protected"},
    };
    for (const auto& subkey : subkeys)
        ASSERT_TRUE(m_key.Set({RegistryValue::Dword(QV_VALUE_LOG_ENABLE, 0),
                                   RegistryValue::Dword(QV_VALUE_LOG_LEVEL, 0x111),
                                   RegistryValue::Dword(QV_VALUE_LOG_PROCESS, 0),
                                   RegistryValue::Dword(QV_VALUE_LOG_UNIT_TYPE, 0),
                                   RegistryValue::String(QV_VALUE_LOG_FOLDER, L""),
                                   RegistryValue::String(QV_VALUE_LOG_PREFIX, subkey.second)}, subkey.first));
    struct Case {
        DWORD kind;
        const wchar_t* prefix;
        BYTE service;
        BYTE protectedSession;
    } cases[] = {
        {QVLOG_SESSION_INTERACTIVE, L"interactive", 0, 0},
        {QVLOG_SESSION_SERVICE, L"service", 1, 0},
        {QVLOG_SESSION_PROTECTED, L"protected", 0, 1},
        // Detected: this test runs in a user's session at medium integrity
        // (under Wine always session 1).
        {QVLOG_SESSION_DETECT, L"interactive", 0, 0},
        {4, L"interactive", 0, 0},   // above 3 means detect
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(Initialize(LIBRARY_FOLDER, c.kind)) << c.kind;
        EXPECT_EQ(c.prefix, Field(Log().GetConfig().logPrefix)) << c.kind;
        EXPECT_EQ(c.service, Log().GetConfig().serviceSession) << c.kind;
        EXPECT_EQ(c.protectedSession, Log().GetConfig().protectedSession) << c.kind;
        EXPECT_TRUE(DebugLog::Instance().Uninitialize());
    }
    EXPECT_FALSE(IsQvDbgLoaded());
}

TEST_F(DebugLogTest, ReadingStopsAtTheFirstMissingOrMistypedValue) {
    using V = RegistryValue;
    struct Case {
        const char* label;
        std::vector<RegistryValue> values;   // after "Enable" 0 and "Level" 0x111
        DWORD logProcess, logUnitType;
        const wchar_t* folder;
        const wchar_t* prefix;
        BYTE robust;
    } cases[] = {
        {"LogProcess as text", {V::String(QV_VALUE_LOG_PROCESS, L"1")}, 0, 0, L"", L"", 0},
        {"LogFolder as DWORD",
         {V::Dword(QV_VALUE_LOG_PROCESS, 3), V::Dword(QV_VALUE_LOG_UNIT_TYPE, 4),
          V::Dword(QV_VALUE_LOG_FOLDER, 5), V::String(QV_VALUE_LOG_PREFIX, L"P")},
         3, 4, L"", L"", 0},
        {"LogExtension missing",
         {V::Dword(QV_VALUE_LOG_PROCESS, 3), V::Dword(QV_VALUE_LOG_UNIT_TYPE, 4),
          V::String(QV_VALUE_LOG_FOLDER, L"F"), V::String(QV_VALUE_LOG_PREFIX, L"P"),
          V::String(QV_VALUE_LOG_FILE, L"L"), V::Dword(QV_VALUE_LOG_ROBUST, 1)},
         3, 4, L"F", L"P", 0},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.label);
        TestRegistryKey key;
        std::vector<RegistryValue> values = {V::Dword(QV_VALUE_LOG_ENABLE, 0),
                                             V::Dword(QV_VALUE_LOG_LEVEL, 0x111)};
        values.insert(values.end(), c.values.begin(), c.values.end());
        ASSERT_TRUE(key.Set(values, QV_DEBUGLOG_INTERACTIVE));
        ASSERT_TRUE(DebugLog::Instance().Initialize(TEST_MODULE, key.Location(), LIBRARY_FOLDER,
                                                    QVLOG_SESSION_INTERACTIVE));
        const QvDbgConfig& config = Log().GetConfig();
        EXPECT_EQ(c.logProcess, config.logProcess);
        EXPECT_EQ(c.logUnitType, config.logUnitType);
        EXPECT_EQ(c.folder, Field(config.logFolder));
        EXPECT_EQ(c.prefix, Field(config.logPrefix));
        EXPECT_EQ(c.robust, config.robust);
        EXPECT_TRUE(DebugLog::Instance().Uninitialize());
    }
}

TEST_F(DebugLogTest, ExpandableAndMultiStringFolders) {
    // The log passes "LogFolder" on as stored; the library expands it.
    const wchar_t* const variable = L"KEL_DEBUGLOG_TEST_FOLDER";
    ASSERT_TRUE(::SetEnvironmentVariableW(variable, m_folder.Path().c_str()));
    struct Case {
        RegistryValue folder;
        std::wstring inRecord;
    } cases[] = {
        {RegistryValue::String(QV_VALUE_LOG_FOLDER, L"%KEL_DEBUGLOG_TEST_FOLDER%\\expand",
                               REG_EXPAND_SZ),
         L"%KEL_DEBUGLOG_TEST_FOLDER%\\expand"},
        {RegistryValue::MultiString(QV_VALUE_LOG_FOLDER, {InFolder(L"multi"), L"C:\\second"}),
         InFolder(L"multi")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.inRecord));
        Configure(0x111, {c.folder, RegistryValue::String(QV_VALUE_LOG_PREFIX, L"P")});
        ASSERT_TRUE(Initialize());
        EXPECT_EQ(c.inRecord, Field(Log().GetConfig().logFolder));
        // The next field is read whole: the inner terminators did not shift it.
        EXPECT_EQ(L"P", Field(Log().GetConfig().logPrefix));
        EXPECT_TRUE(QVLOG(QVLOG_INFO, L"here"));
        ASSERT_TRUE(DebugLog::Instance().Uninitialize());
    }
    EXPECT_EQ(1u, FileNames(InFolder(L"expand")).size());
    EXPECT_EQ(1u, FileNames(InFolder(L"multi")).size());
    ::SetEnvironmentVariableW(variable, nullptr);
}

TEST_F(DebugLogTest, OverlongStringsAreCutInsideTheirFields) {
    const std::pair<const wchar_t*, wchar_t> settings[] = {
        {QV_VALUE_LOG_FOLDER, L'F'},
        {QV_VALUE_LOG_PREFIX, L'P'},
        {QV_VALUE_LOG_FILE, L'L'},
        {QV_VALUE_LOG_EXTENSION, L'E'},
    };
    std::vector<RegistryValue> values = {RegistryValue::Dword(QV_VALUE_LOG_ENABLE, 0),
                                         RegistryValue::Dword(QV_VALUE_LOG_LEVEL, 0x111),
                                         RegistryValue::Dword(QV_VALUE_LOG_PROCESS, 7),
                                         RegistryValue::Dword(QV_VALUE_LOG_UNIT_TYPE, 9)};
    for (const auto& setting : settings)
        values.push_back(RegistryValue::String(setting.first, std::wstring(600, setting.second)));
    values.push_back(RegistryValue::Dword(QV_VALUE_LOG_ROBUST, 2));
    values.push_back(RegistryValue::Dword(QV_VALUE_LOG_DEBUGGER, 0x100));
    ASSERT_TRUE(m_key.Set(values, QV_DEBUGLOG_INTERACTIVE));

    ASSERT_TRUE(DebugLog::Instance().Initialize(std::wstring(100, L'M'), m_key.Location(),
                                                LIBRARY_FOLDER, QVLOG_SESSION_INTERACTIVE));
    const QvDbgConfig& config = Log().GetConfig();
    const BYTE* record = reinterpret_cast<const BYTE*>(&config);
    struct Span {
        size_t offset;
        size_t units;   // of the field, terminator included
        wchar_t fill;
    } spans[] = {
        {offsetof(QvDbgConfig, moduleName), 32, L'M'},
        {offsetof(QvDbgConfig, logFolder), 260, L'F'},
        {offsetof(QvDbgConfig, logPrefix), 256, L'P'},
        {offsetof(QvDbgConfig, logFile), 256, L'L'},
        {offsetof(QvDbgConfig, logExtension), 256, L'E'},
    };
    for (const Span& s : spans) {
        const wchar_t* text = reinterpret_cast<const wchar_t*>(record + s.offset);
        EXPECT_EQ(std::wstring(s.units - 1, s.fill), std::wstring(text, s.units - 1)) << s.offset;
        EXPECT_EQ(L'\0', text[s.units - 1]) << s.offset;
    }
    // The numbers on either side of the strings are untouched.
    EXPECT_EQ(7u, config.logProcess);
    EXPECT_EQ(9u, config.logUnitType);
    EXPECT_EQ(1, config.robust);
    EXPECT_EQ(1, config.debugger);
}
