// A peer in a process of its own, for the tests that cross a process
// boundary. Usage:
//   ipc_peer_helper listen <pipe> <ready-event> <quit-event>
//       listens on <pipe>, answers every query with its own body and the
//       result code 0x77, signals Local\<ready-event> once listening, and ends
//       when Local\<quit-event> is signalled. Exit code: ReceiveStart's result.
//   ipc_peer_helper first-sequence
//       exit code: the sequence number of the first record of the process.
#include <windows.h>
#include <shellapi.h>
#include <string>
#include "EchoAnswer.h"
#include "IpcPeer.h"

namespace {

uint32_t EchoQuery(CIpcCommand& command, void*) {
    if (command.GetCommandType() == OIPC_QUERY) AnswerWithEcho(command);
    return 0;
}

HANDLE NamedEvent(const std::wstring& name) {
    return ::CreateEventW(nullptr, TRUE, FALSE, (L"Local\\" + name).c_str());
}

int Listen(const std::wstring& pipe, const std::wstring& ready, const std::wstring& quit) {
    QvCommon::UniqueHandle readyEvent(NamedEvent(ready));
    QvCommon::UniqueHandle quitEvent(NamedEvent(quit));
    CIpcPeer peer;
    peer.SetPipeName(pipe);
    peer.SetCallback(&EchoQuery, nullptr);
    uint32_t started = peer.ReceiveStart();
    ::SetEvent(readyEvent.get());
    if (started != 0) return static_cast<int>(started);
    ::WaitForSingleObject(quitEvent.get(), INFINITE);
    peer.ReceiveStop();
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"listen" && argc == 5) return Listen(argv[2], argv[3], argv[4]);
    if (mode == L"first-sequence") {
        CIpcCommand first;
        return static_cast<int>(first.GetSequence());
    }
    return 2;
}
