#include "AgentProcess.h"

#include "IpcDefs.h"
#include "ProviderMessages.h"

namespace {

// Short against a start of a second or more, long against a failed try,
// which finds no pipe and returns at once.
constexpr DWORD SERVING_POLL_MS = 5;
constexpr DWORD SETTLE_POLL_MS = 250;
constexpr int SETTLE_STEADY_POLLS = 4;
constexpr DWORD SETTLE_LIMIT_MS = 10000;

} // namespace

AgentProcess::AgentProcess() { m_client.Initialize(IPC_SESSION_PIPE); }

AgentProcess::~AgentProcess() {
    if (m_process && m_process->Running()) Exit();   // what does not end then is ended by the child's owner
}

bool AgentProcess::Start() {
    m_process = std::make_unique<KelTest::ChildProcess>(L"KelConsole.exe", L"-s");
    return m_process->Started();
}

bool AgentProcess::WaitServing(DWORD timeoutMs) {
    return KelTest::WaitUntil(
        [&] {
            JsonValue body;
            return Send(KEL_PROVIDER_WORKSPACE_MSG_GET_CONSOLE_UI_STATUS, body) == 0 || !m_process->Running();
        },
        timeoutMs, SERVING_POLL_MS) && m_process->Running();
}

void AgentProcess::Settle() {
    size_t last = 0;
    int steady = 0;
    KelTest::WaitUntil(
        [&] {
            const size_t threads = KelTest::ThreadsOf(m_process->Id()).size();
            steady = threads == last ? steady + 1 : 0;
            last = threads;
            return steady >= SETTLE_STEADY_POLLS;
        },
        SETTLE_LIMIT_MS, SETTLE_POLL_MS);
}

DWORD AgentProcess::Exit(DWORD timeoutMs) {
    JsonValue none;
    if (Send(KEL_PROVIDER_WORKSPACE_MSG_EXIT_PROGRAM, none) != 0) return STILL_ACTIVE;
    return m_process->Wait(timeoutMs);
}

uint32_t AgentProcess::SendThrough(CIpcClient& client, uint32_t messageId, JsonValue& body) {
    return client.SendMessageToProvider(KEL_PROVIDER_WORKSPACE, messageId, body);
}
