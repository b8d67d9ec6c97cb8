#pragma once
// The debug log under test, configured through a registry key of the test's
// own and writing through the real QvDbg32.dll into a fresh folder.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "DebugLog.h"
#include "ProductKeys.h"
#include "QvLog.h"
#include "TestSupport.h"

namespace KelTest {

constexpr wchar_t TEST_MODULE[] = L"DebugLogTest";
constexpr wchar_t LIBRARY_FOLDER[] = L".\\";   // tests run in the binary folder

class DebugLogTest : public ::testing::Test {
protected:
    ~DebugLogTest() override { QvCommon::DebugLog::Instance().Uninitialize(); }

    // The interactive session subkey with LogSettings for the test's folder,
    // then the extra values (a value named again replaces the first).
    void Configure(DWORD level, const std::vector<RegistryValue>& extra = {}) {
        std::vector<RegistryValue> values = LogSettings(level, m_folder.Path());
        values.insert(values.end(), extra.begin(), extra.end());
        ASSERT_TRUE(m_key.Set(values, QV_DEBUGLOG_INTERACTIVE));
    }
    bool Initialize() {
        return QvCommon::DebugLog::Instance().Initialize(TEST_MODULE, m_key.Location(), LIBRARY_FOLDER,
                                                         QVLOG_SESSION_INTERACTIVE);
    }
    // The lines written so far into a folder; every one must end in CR LF.
    static std::vector<std::wstring> Lines(const std::wstring& folder) {
        bool complete = false;
        std::vector<std::wstring> lines = SplitLines(Widen(ReadFolder(folder)), &complete);
        EXPECT_TRUE(complete) << "a line does not end in CR LF";
        return lines;
    }
    std::vector<std::wstring> Lines() const { return Lines(m_folder.Path()); }
    // The lines taken apart; each must have the log's format.
    std::vector<LogLine> ParsedLines() const {
        std::vector<LogLine> parsed;
        for (const std::wstring& text : Lines()) {
            parsed.emplace_back();
            EXPECT_TRUE(ParseLogLine(text, parsed.back())) << "not a log line: " << ::testing::PrintToString(text);
        }
        return parsed;
    }
    // Each line as marker and message, or as it stands when it is not a log
    // line (a row of a dump).
    static std::vector<std::wstring> Messages(const std::wstring& folder) {
        std::vector<std::wstring> messages;
        for (const std::wstring& text : Lines(folder)) {
            LogLine line;
            messages.push_back(ParseLogLine(text, line) ? line.marker + L" " + line.message : text);
        }
        return messages;
    }
    std::wstring InFolder(const std::wstring& name) const { return Join(m_folder.Path(), name); }

    TestRegistryKey m_key;
    TempFolder m_folder;
};

inline bool IsQvDbgLoaded() { return ::GetModuleHandleW(QVDBG_LIBRARY_NAME) != nullptr; }

template <size_t N>
std::wstring Field(const WCHAR (&field)[N]) {
    return std::wstring(field, wcsnlen(field, N));
}

} // namespace KelTest
