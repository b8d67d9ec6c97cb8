#pragma once
// The debug log under test, configured through a registry key of the test's
// own and writing through the real QvDbg32.dll into a fresh folder.
#include <gtest/gtest.h>
#include <windows.h>
#include <regex>
#include <string>
#include <vector>
#include "DebugLog.h"
#include "ProductKeys.h"
#include "QvLog.h"
#include "TestSupport.h"

namespace KelTest {

constexpr wchar_t TEST_MODULE[] = L"DebugLogTest";
constexpr wchar_t LIBRARY_FOLDER[] = L".\\";   // tests run in the binary folder

// One line of the debug log:
// "dd/mm/yyyy hh:mm:ss.mmm pppp:tttt mmm <Module> message - File.cpp(123)".
struct LogLine {
    int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    DWORD processId = 0, threadId = 0;
    std::wstring marker, module, message, file;
    unsigned long line = 0;
};

// The message is cut out by hand and only the short head and tail go through
// regular expressions: libstdc++'s matcher recurses once per character and
// overflows a thread's stack on a message of a few thousand characters.
inline bool ParseLogLine(const std::wstring& text, LogLine& parsed) {
    static const std::wregex headFormat(
        LR"(^(\d{2})/(\d{2})/(\d{4}) (\d{2}):(\d{2}):(\d{2})\.(\d{3}) ([0-9a-f]{4,}):([0-9a-f]{4,}) )"
        LR"((.{3}) <([^>]*)> $)");
    static const std::wregex tailFormat(LR"(^ - ([^\\/:]+)\((\d+)\)$)");
    const size_t headEnd = text.find(L"> "), tailStart = text.rfind(L" - ");
    if (headEnd == std::wstring::npos || tailStart == std::wstring::npos || tailStart < headEnd + 2) return false;
    const std::wstring head = text.substr(0, headEnd + 2), tail = text.substr(tailStart);
    std::wsmatch m, t;
    if (!std::regex_match(head, m, headFormat) || !std::regex_match(tail, t, tailFormat)) return false;
    auto number = [&](int i) { return std::stoi(m[i].str()); };
    auto hex = [&](int i) { return static_cast<DWORD>(std::stoul(m[i].str(), nullptr, 16)); };
    parsed = {number(1), number(2), number(3), number(4), number(5), number(6), number(7), hex(8), hex(9),
              m[10].str(), m[11].str(), text.substr(headEnd + 2, tailStart - headEnd - 2), t[1].str(),
              std::stoul(t[2].str())};
    return true;
}

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
        const std::wstring text = Widen(ReadFolder(folder));
        std::vector<std::wstring> lines;
        size_t start = 0;
        for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
            lines.push_back(text.substr(start, end - start));
            EXPECT_EQ(std::wstring::npos, lines.back().find_first_of(L"\r\n")) << "a lone CR or LF";
        }
        EXPECT_EQ(text.size(), start) << "the last line does not end in CR LF";
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
