#include "TestProcesses.h"

ServerProcess::ServerProcess(const std::wstring& pipe)
    : m_pipe(pipe), m_log(m_logFolder.Path()), m_readyEvent(KelTest::UniqueName(L"helperready")),
      m_quitEvent(KelTest::UniqueName(L"helperquit")),
      m_process(L"ipc_helper.exe", L"serve " + pipe + L" " + m_readyEvent.Name() + L" " + m_quitEvent.Name() +
                                       L" " + KelTest::Argument(m_logFolder.Path())) {
    m_ready = m_process.WaitReady(m_readyEvent);
    m_control.Initialize(m_pipe);
}

uint32_t ServerProcess::Broadcast(uint32_t messageId, const JsonValue& body) {
    JsonValue control{{"messageId", messageId}, {"body", body}};
    return m_control.SendMessageToProvider(TEST_CONTROL_CLASS, TEST_CONTROL_BROADCAST, control);
}

JsonValue ServerProcess::State() {
    JsonValue state;
    return m_control.SendMessageToProvider(TEST_CONTROL_CLASS, TEST_CONTROL_STATE, state) == 0 ? state : JsonValue();
}
