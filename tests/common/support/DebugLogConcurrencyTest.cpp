// Lines from several threads and several processes reach the log whole and in
// the order in which each thread wrote them.
#include "DebugLogFixture.h"

#include <map>
#include <memory>
#include <thread>

using QvCommon::DebugLog;
using namespace KelTest;

namespace {

constexpr wchar_t WRITER_PROGRAM[] = L"debuglog_writer.exe";
constexpr int WRITER_THREADS = 2;       // as the helper program starts them
constexpr DWORD WRITER_TIMEOUT_MS = 60000;
// Longer than one formatting step; the helper program writes the same.
const std::wstring PADDING(300, L'x');

} // namespace

// Windows appends each write to a local file atomically by itself; Wine does
// not (its NtWriteFile takes the file size and then writes at that offset, so
// two processes can write over each other). Under Wine this test therefore
// fails without the tracing library's cross-process append lock: it is the
// test of that lock.
TEST_F(DebugLogTest, LinesOfTwoProcessesShareOneFile) {
    constexpr int PROCESSES = 2;
    constexpr int LINES = 200;   // per thread
    Configure(QVLOG_INFO);
    NamedEvent gate(UniqueName(L"KelDebugLogGate"));
    ASSERT_TRUE(gate.Valid());
    std::vector<std::unique_ptr<ChildProcess>> writers;
    for (int p = 0; p < PROCESSES; ++p) {
        writers.push_back(std::make_unique<ChildProcess>(
            WRITER_PROGRAM, Argument(m_key.Path()) + L" " + std::to_wstring(LINES) + L" Local\\" + gate.Name()));
        ASSERT_TRUE(writers.back()->Started());
    }
    // This process writes at the same time, into the same file.
    ASSERT_TRUE(Initialize());
    ::Sleep(500);   // let the writers come up to the gate
    ASSERT_TRUE(gate.Set());
    for (int i = 0; i < LINES; ++i) EXPECT_TRUE(QVLOG(QVLOG_INFO, L"seq %d%s", i, PADDING.c_str()));
    for (const auto& writer : writers) EXPECT_EQ(0u, writer->Wait(WRITER_TIMEOUT_MS));

    // One file of the day for all three (two when the run crosses midnight).
    EXPECT_LE(FileNames(m_folder.Path()).size(), 2u);
    std::vector<LogLine> lines = ParsedLines();
    EXPECT_EQ(static_cast<size_t>((PROCESSES * WRITER_THREADS + 1) * LINES), lines.size());
    // Each writer (process and thread) numbers its lines from 0: all of them
    // there, in order.
    std::map<std::pair<DWORD, DWORD>, int> next;
    for (const LogLine& line : lines)
        EXPECT_EQ(L"seq " + std::to_wstring(next[{line.processId, line.threadId}]++) + PADDING, line.message);
    EXPECT_EQ(static_cast<size_t>(PROCESSES * WRITER_THREADS + 1), next.size());
    for (const auto& writer : next) EXPECT_EQ(LINES, writer.second);
}
