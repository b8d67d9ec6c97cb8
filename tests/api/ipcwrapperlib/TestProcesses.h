#pragma once
// The server of the cross-process tests: ipc_helper serving a CIpcServer in
// front of a TestController, driven through its control messages, its debug
// log in a folder the test reads.
#include <windows.h>
#include <string>
#include <vector>
#include "IpcClient.h"
#include "PipeServer.h"
#include "TestController.h"
#include "TestSupport.h"

// A record as the tests write them, and its payload as text.
inline CIpcCommand& Fill(CIpcCommand& command, uint32_t type, uint32_t classId, uint32_t messageId,
                         const std::wstring& payload) {
    command.SetCommandType(type);
    command.SetIpcInfo({classId, messageId});
    command.PutPayloadData(payload);
    return command;
}
inline std::wstring PayloadOf(const CIpcCommand& command) {
    std::wstring text;
    command.GetPayloadData(text);
    return text;
}

// Writes the bytes as one connection of a client: connect, write, close.
inline bool WriteOnce(const std::wstring& pipe, const std::vector<BYTE>& bytes) {
    CPipeClient client;
    if (!client.Initial(pipe.c_str())) return false;
    DWORD size = static_cast<DWORD>(bytes.size());
    return (bytes.empty() || client.Send(bytes.data(), &size)) && size == bytes.size();
}

class ServerProcess {
public:
    // A unique pipe unless the test needs a product pipe.
    explicit ServerProcess(const std::wstring& pipe = KelTest::UniqueName(L"kelsrv"));
    ~ServerProcess() { m_control.Uninitialize(); Quit(); }
    bool Ready() const { return m_ready; }
    const KelTest::LogFolder& Log() const { return m_log; }
    const std::wstring& Pipe() const { return m_pipe; }
    DWORD Quit() { m_quitEvent.Set(); return m_process.Wait(KelTest::CHILD_START_MS); }   // the start result
    uint32_t Broadcast(uint32_t messageId, const JsonValue& body);
    JsonValue State();
private:
    std::wstring m_pipe;
    KelTest::TempFolder m_logFolder;
    KelTest::LogFolder m_log;
    KelTest::NamedEvent m_readyEvent;
    KelTest::NamedEvent m_quitEvent;
    KelTest::ChildProcess m_process;
    bool m_ready = false;
    CIpcClient m_control;
};
