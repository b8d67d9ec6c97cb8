// A server process for the tests that cross a process boundary: a CIpcServer
// in front of a TestController. Usage:
//   ipc_server_helper <pipe> <ready-event> <quit-event> [<log-folder>]
//       serves <pipe>, signals Local\<ready-event> once listening, and ends
//       when Local\<quit-event> is signalled; with a log folder its debug log
//       goes there. Exit code: the server's start result.
#include <windows.h>
#include <memory>
#include <string>
#include "IpcServer.h"
#include "TestController.h"
#include "TestSupport.h"

namespace {

HANDLE NamedEvent(const std::wstring& name) {
    return ::CreateEventW(nullptr, TRUE, FALSE, (L"Local\\" + name).c_str());
}

int Serve(const std::wstring& pipe, const std::wstring& ready, const std::wstring& quit) {
    QvCommon::UniqueHandle readyEvent(NamedEvent(ready));
    QvCommon::UniqueHandle quitEvent(NamedEvent(quit));
    TestController controller;
    CIpcServer server;
    uint32_t started = server.Initialize(&controller, pipe);
    if (started == 0) started = server.Start();
    ::SetEvent(readyEvent.get());
    if (started != 0) return static_cast<int>(started);
    ::WaitForSingleObject(quitEvent.get(), INFINITE);
    server.Stop();
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4 && argc != 5) return 2;
    std::unique_ptr<KelTest::CapturedLog> log;
    if (argc == 5) log.reset(new KelTest::CapturedLog(argv[4]));
    return Serve(argv[1], argv[2], argv[3]);
}
