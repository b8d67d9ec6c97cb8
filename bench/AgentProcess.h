#pragma once
// KelConsole.exe started silently ("-s"), as a user's session starts it, with
// a client of this process on its session pipe, as a browser add-on has one.
#include <windows.h>
#include <memory>
#include "IpcClient.h"
#include "TestSupport.h"

class AgentProcess {
public:
    AgentProcess();
    ~AgentProcess();
    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;

    // CreateProcess, nothing else: the client is ready before.
    bool Start();
    // Asks for the console status every few milliseconds until the agent
    // answers it; false when it did not within the time or ended.
    bool WaitServing(DWORD timeoutMs = KelTest::CHILD_START_MS);
    // After it serves, the agent still finishes its start (the hidden add-on
    // console's thread): waits until its thread count held for a second.
    void Settle();
    // The exit message, then the wait for the process's end: its exit code,
    // or STILL_ACTIVE when it did not end within the time.
    DWORD Exit(DWORD timeoutMs = KelTest::CHILD_START_MS);

    HANDLE Handle() const { return m_process ? m_process->Handle() : nullptr; }
    // To the workspace provider; the result code. The reply replaces the body.
    uint32_t Send(uint32_t messageId, JsonValue& body) { return SendThrough(m_client, messageId, body); }
    static uint32_t SendThrough(CIpcClient& client, uint32_t messageId, JsonValue& body);

private:
    CIpcClient m_client;
    std::unique_ptr<KelTest::ChildProcess> m_process;
};
