// What the debug log writes: the line format, the level filter, long messages
// and memory dumps, read back from the files of the real tracing library.
#include "DebugLogFixture.h"

#include <cstdlib>
#include <new>
#include <tuple>

using QvCommon::DebugLog;
using namespace KelTest;

namespace {

// While set, every allocation of this thread made through this program's
// operator new fails. (The library's operator delete frees with the C
// runtime's free, which matches the malloc below.)
thread_local bool t_failAllocations = false;

// Text of n code units that shows where it was cut.
std::wstring Counted(size_t n) {
    std::wstring text;
    while (text.size() < n) text += std::to_wstring(text.size()) + L'.';
    text.resize(n);
    return text;
}

} // namespace

TEST_F(DebugLogTest, LineHasTheExactFormat) {
    Configure(0x111);
    ASSERT_TRUE(Initialize());
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    const unsigned long line = __LINE__ + 1;
    EXPECT_TRUE(QVLOG(QVLOG_INFO, L"*****Value %d of %s is 0x%08x", 42, L"wide", 0xBEEFu));

    // The parser holds the exact format (see LogLine).
    std::vector<std::wstring> lines = Lines();
    ASSERT_EQ(1u, lines.size());
    LogLine parsed;
    ASSERT_TRUE(ParseLogLine(lines[0], parsed)) << ::testing::PrintToString(lines[0]);
    EXPECT_EQ(std::make_tuple(L"@@@", TEST_MODULE, L"*****Value 42 of wide is 0x0000beef", L"DebugLogFormatTest.cpp"),
              std::make_tuple(parsed.marker, parsed.module, parsed.message, parsed.file));
    // Day before month, the local date of the call (a run over midnight
    // fails here once).
    EXPECT_EQ(std::make_tuple(::GetCurrentProcessId(), ::GetCurrentThreadId(), line, int(now.wDay), int(now.wMonth),
                              int(now.wYear)),
              std::make_tuple(parsed.processId, parsed.threadId, parsed.line, parsed.day, parsed.month, parsed.year));
}

TEST_F(DebugLogTest, LevelMaskSelectsTheLines) {
    const DWORD levels[] = {QVLOG_TRACE, QVLOG_INFO, QVLOG_ERROR, 0x2, 0x11};
    struct Case { DWORD mask; std::vector<std::wstring> written; } cases[] = {
        {0x111, {L".w. level 0x1", L"@@@ level 0x10", L"!!! level 0x100", L"??? level 0x11"}},
        {0x10, {L"@@@ level 0x10", L"??? level 0x11"}},
        {0x2, {L"??? level 0x2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mask);
        const std::wstring folder = InFolder(L"mask" + std::to_wstring(c.mask));
        Configure(c.mask, {RegistryValue::String(QV_VALUE_LOG_FOLDER, folder)});
        ASSERT_TRUE(Initialize());
        for (DWORD level : levels)
            EXPECT_EQ((c.mask & level) != 0, QVLOG(level, L"level 0x%x", level)) << level;
        ASSERT_TRUE(DebugLog::Instance().Uninitialize());

        EXPECT_EQ(c.written, Messages(folder));
    }
}

TEST_F(DebugLogTest, LongMessagesAreWrittenWhole) {
    Configure(QVLOG_INFO);
    ASSERT_TRUE(Initialize());
    // Around 256 units, the old formatter's step, and far beyond.
    const size_t lengths[] = {0, 1, 255, 256, 257, 511, 512, 513, 5000};
    for (size_t length : lengths) EXPECT_TRUE(QVLOG(QVLOG_INFO, L"%s", Counted(length).c_str()));
    // Outside ASCII, including a pair of surrogates, longer than one step.
    std::wstring wide;
    while (wide.size() < 300) wide += L"Gr\u00fc\u00dfe \u20ac \U0001D11E ";
    EXPECT_TRUE(QVLOG(QVLOG_INFO, L"%s", wide.c_str()));

    std::vector<LogLine> lines = ParsedLines();
    ASSERT_EQ(std::size(lengths) + 1, lines.size());
    for (size_t i = 0; i < std::size(lengths); ++i)
        EXPECT_EQ(Counted(lengths[i]), lines[i].message) << lengths[i];
    EXPECT_EQ(wide, lines.back().message);
}

TEST_F(DebugLogTest, DumpRowsFollowTheirLine) {
    std::string ascii = "0123456789ABCDEF";
    const BYTE mixed[] = {0x00, 0x41, 0x7f, 0x0a, 0x20};
    // The rows come after the line that opens the dump.
    struct Case { const char* label; const void* data; DWORD size; std::vector<std::wstring> rows; } cases[] = {
        {"16 bytes", ascii.data(), 16,
         {L" 30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46   0123456789ABCDEF",
          std::wstring(16 * 3 + 3 + 16, L' ')}},
        {"unprintable", mixed, 5,
         {L" 00 41 7f 0a 20" + std::wstring(11 * 3 + 3, L' ') + L".A.. " + std::wstring(11, L' ')}},
        {"nothing", nullptr, 0, {std::wstring(16 * 3 + 3 + 16, L' ')}},
    };
    Configure(QVLOG_ERROR);
    ASSERT_TRUE(Initialize());
    EXPECT_FALSE(QVLOG_DUMP(QVLOG_INFO, ascii.data(), 16)) << "filtered by level";
    std::vector<std::wstring> expected;
    for (const Case& c : cases) {
        EXPECT_TRUE(QVLOG_DUMP(QVLOG_ERROR, c.data, c.size)) << c.label;
        expected.push_back(L"!!! >>> dump memory");
        expected.insert(expected.end(), c.rows.begin(), c.rows.end());
    }
    EXPECT_EQ(expected, Messages(m_folder.Path()));
}

TEST_F(DebugLogTest, BigDumpIsCutAt1800Bytes) {
    std::string data(2000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 256);
    Configure(QVLOG_TRACE);
    ASSERT_TRUE(Initialize());
    EXPECT_TRUE(QVLOG_DUMP(QVLOG_TRACE, data.data(), static_cast<DWORD>(data.size())));

    std::vector<std::wstring> lines = Lines();
    ASSERT_EQ(1u + 113u, lines.size());
    LogLine line;
    ASSERT_TRUE(ParseLogLine(lines[0], line));
    EXPECT_EQ(L">>> dump memory??? size too big, dump 1800 bytes only!", line.message);
    EXPECT_EQ(L" 20 21 22 23 24 25 26 27 28 29 2a 2b 2c 2d 2e 2f    !\"#$%&'()*+,-./", lines[3]);
    // Byte 1799 is the last: 1792 % 256 = 0, so the last row starts at 00.
    EXPECT_EQ(L" 00 01 02 03 04 05 06 07" + std::wstring(8 * 3 + 3, L' ') + L"........" +
                  std::wstring(8, L' '),
              lines.back());
}

// A log call that runs out of memory loses its line; the caller sees false,
// never an exception, and the log goes on.
TEST_F(DebugLogTest, OutOfMemoryLosesTheLineNotTheCaller) {
    Configure(QVLOG_TRACE);
    ASSERT_TRUE(Initialize());
    const char bytes[] = "abc";
    bool traced = true, dumped = true;
    t_failAllocations = true;
    EXPECT_NO_THROW(traced = QVLOG(QVLOG_TRACE, L"lost %d", 1));
    EXPECT_NO_THROW(dumped = QVLOG_DUMP(QVLOG_TRACE, bytes, 3));
    t_failAllocations = false;
    EXPECT_FALSE(traced);
    EXPECT_FALSE(dumped);
    EXPECT_TRUE(QVLOG(QVLOG_TRACE, L"kept"));
    std::vector<LogLine> lines = ParsedLines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(L"kept", lines[0].message);
}

void* operator new(size_t size) {
    if (t_failAllocations) throw std::bad_alloc();
    if (void* block = std::malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}
