// Helper process of the debug-log tests: logs numbered lines from two threads
// (each padded beyond one formatting step) through the registry key it is
// given, once the test opens the start gate.
//   debuglog_writer.exe <key path below HKLM> <lines per thread> <gate event name>
// Exit codes: 0 all lines accepted, 1 bad arguments, 2 initialisation failed,
// 3 a line was refused.
#include <windows.h>
#include <atomic>
#include <string>
#include <thread>
#include "DebugLog.h"
#include "QvHandle.h"
#include "QvLog.h"

namespace {

constexpr int WRITER_THREADS = 2;
constexpr DWORD GATE_TIMEOUT_MS = 30000;

std::wstring Wide(const char* text) { return std::wstring(text, text + strlen(text)); }

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 1;
    const std::wstring keyPath = Wide(argv[1]);
    const int lines = atoi(argv[2]);
    QvCommon::UniqueHandle gate(::OpenEventW(SYNCHRONIZE, FALSE, Wide(argv[3]).c_str()));
    if (!gate || lines <= 0) return 1;

    QvCommon::DebugLog& log = QvCommon::DebugLog::Instance();
    if (!log.Initialize(L"DebugLogTest", QvCommon::Storage::Key(QVSTORAGE_REGISTRY, HKEY_LOCAL_MACHINE, keyPath),
                        L".\\", QVLOG_SESSION_INTERACTIVE))
        return 2;
    std::atomic<bool> refused{false};
    const std::wstring padding(300, L'x');   // longer than one formatting step
    auto write = [&] {
        ::WaitForSingleObject(gate.get(), GATE_TIMEOUT_MS);
        for (int i = 0; i < lines; ++i)
            if (!QVLOG(QVLOG_INFO, L"seq %d%s", i, padding.c_str())) refused = true;
    };
    std::thread threads[WRITER_THREADS];
    for (std::thread& thread : threads) thread = std::thread(write);
    for (std::thread& thread : threads) thread.join();
    log.Uninitialize();
    return refused ? 3 : 0;
}
