// Helper process of the debug-log tests: logs numbered lines from two threads
// (each longer than 256 characters) through the registry key it is
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

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return 1;
    const std::wstring keyPath = argv[1];
    const int lines = _wtoi(argv[2]);
    QvCommon::UniqueHandle gate(::OpenEventW(SYNCHRONIZE, FALSE, argv[3]));
    if (!gate || lines <= 0) return 1;

    QvCommon::DebugLog& log = QvCommon::DebugLog::Instance();
    if (!log.Initialize(L"DebugLogTest", QvCommon::Storage::Key(QVSTORAGE_REGISTRY, HKEY_LOCAL_MACHINE, keyPath),
                        L".\\", QVLOG_SESSION_INTERACTIVE))
        return 2;
    std::atomic<bool> refused{false};
    const std::wstring padding(300, L'x');   // a line longer than 256 characters
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
