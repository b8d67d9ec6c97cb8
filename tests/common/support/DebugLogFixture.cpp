#include "DebugLogFixture.h"

namespace KelTest {

std::vector<std::wstring> DebugLogTest::Lines(const std::wstring& folder) const {
    bool complete = false;
    std::vector<std::wstring> lines = SplitLines(Widen(ReadFolder(folder)), &complete);
    EXPECT_TRUE(complete) << "a line does not end in CR LF";
    return lines;
}

std::vector<LogLine> DebugLogTest::ParsedLines() const {
    std::vector<LogLine> parsed;
    for (const std::wstring& text : Lines()) {
        LogLine line;
        EXPECT_TRUE(ParseLogLine(text, line)) << "not a log line: " << ::testing::PrintToString(text);
        parsed.push_back(line);
    }
    return parsed;
}

} // namespace KelTest
