#include "ServiceProcess.h"
#include "IpcClient.h"
#include "ProviderMessages.h"

ServiceProcess::ServiceProcess(const JsonValue& settings, const std::wstring& pipe)
    : m_pipe(pipe), m_readyEvent(KelTest::UniqueName(L"service_ready")) {
    const std::wstring config = m_folder.Path() + L"settings.json";
    KelTest::WriteText(config, settings.dump());
    m_process = std::make_unique<KelTest::ChildProcess>(L"SystemProviderHost.exe",
        L"--pipe " + m_pipe + L" --config " + KelTest::Argument(config) + L" --journal " +
            KelTest::Argument(m_folder.Path() + L"journal.jsonl") + L" --ready-event " + m_readyEvent.Name(),
        KelTest::ChildOptions().Capture());
    m_ready = m_process->WaitReady(m_readyEvent);
}

std::vector<JsonValue> ServiceProcess::Journal() const {
    std::vector<JsonValue> entries;
    for (const std::string& line : KelTest::ReadLines(m_folder.Path() + L"journal.jsonl")) {
        JsonValue entry = JsonValue::parse(line, nullptr, false);
        if (!entry.is_discarded()) entries.push_back(entry);
    }
    return entries;
}

uint32_t ServiceProcess::Broadcast(uint32_t messageId, const JsonValue& body) {
    JsonValue request = {{"MessageId", messageId}, {"Body", body}};
    CIpcClient client;
    if (!client.Initialize(m_pipe)) return PROVIDER_RESULT_FAILED;
    return client.SendMessageToProvider(KEL_PROVIDER_HOST_CONTROL, KEL_HOST_MSG_BROADCAST, request);
}

DWORD ServiceProcess::Stop() {
    JsonValue none;
    CIpcClient client;
    if (client.Initialize(m_pipe)) client.SendMessageToProvider(KEL_PROVIDER_HOST_CONTROL, KEL_HOST_MSG_STOP, none);
    return m_process->Wait(KelTest::CHILD_START_MS);
}
