// The helper process of the cross-process tests.
//   ipc_helper serve <pipe> <ready> <quit> <log-folder>
//       a CIpcServer in front of a TestController, its debug log in the
//       folder; signals Local\<ready> once it serves (or failed to) and ends
//       when Local\<quit> is signalled. Exit code: the start result.
//   ipc_helper flood <server-pipe> <ready>
//       four threads query and post the PIN provider's state until nobody
//       serves the pipe; signals <ready> at the first answer and prints
//       "answered=<n> invalid=<n>". Exit code: answers whose code was neither
//       0 nor 0x10000005.
//   ipc_helper first-sequence
//       exit code: the sequence number of the first record of the process.
#include <windows.h>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>
#include "IpcClient.h"
#include "IpcServer.h"
#include "ProviderMessages.h"
#include "TestController.h"
#include "TestSupport.h"

namespace {

constexpr DWORD FLOOD_QUERY_TIMEOUT_MS = 2000;
constexpr DWORD FLOOD_LIMIT_MS = 60000;
// A helper whose test went away without asking it to quit ends by itself.
constexpr DWORD HELPER_LIMIT_MS = 300000;

int Serve(const std::wstring& pipe, KelTest::NamedEvent ready, const KelTest::NamedEvent& quit) {
    TestController controller;
    CIpcServer server;
    uint32_t started = server.Initialize(&controller, pipe);
    if (started == 0) started = server.Start();
    ready.Set();
    if (started != 0) return static_cast<int>(started);
    quit.Wait(HELPER_LIMIT_MS);
    server.Stop();
    return 0;
}

int Flood(const std::wstring& pipe, KelTest::NamedEvent ready) {
    CIpcClient client(FLOOD_QUERY_TIMEOUT_MS);
    if (!client.Initialize(pipe)) return -1;
    std::atomic<int> answered{0}, invalid{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            KelTest::Stopwatch since;
            while (since.ElapsedMs() < FLOOD_LIMIT_MS) {
                JsonValue body{{"PinState", 0}};
                client.PostMessageToProvider(KEL_PROVIDER_PIN, KEL_PIN_MSG_GET_STATE, body);
                const uint32_t code = client.SendMessageToProvider(KEL_PROVIDER_PIN, KEL_PIN_MSG_GET_STATE, body);
                if (code == IPC_RESULT_NO_LISTENER) break;
                if ((code & 0xFFFF0000) == 0x10020000) continue;   // not answered: the transport's own code
                ++answered;
                if (code != 0 && code != PROVIDER_RESULT_NOT_INITIALIZED) ++invalid;
                ready.Set();
            }
        });
    for (std::thread& thread : threads) thread.join();
    std::printf("answered=%d invalid=%d\n", answered.load(), invalid.load());
    return invalid;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"first-sequence") return static_cast<int>(CIpcCommand().GetSequence());
    if (mode == L"flood" && argc == 4) return Flood(argv[2], KelTest::NamedEvent(argv[3]));
    if (mode != L"serve" || argc != 6) return 2;
    KelTest::CapturedLog log(argv[5]);
    return Serve(argv[2], KelTest::NamedEvent(argv[3]), KelTest::NamedEvent(argv[4]));
}
