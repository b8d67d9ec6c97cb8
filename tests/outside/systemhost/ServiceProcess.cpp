#include "ServiceProcess.h"
#include "IpcClient.h"
#include "ProviderMessages.h"

#include <fstream>
#include <sstream>

ServiceProcess::ServiceProcess(const JsonValue& settings, const std::wstring& pipe)
    : m_pipe(pipe), m_journal(m_folder.Path() + L"journal.jsonl") {
    const std::wstring config = m_folder.Path() + L"settings.json";
    {
        std::ofstream file(KelTest::Narrow(config).c_str(), std::ios::binary);
        file << settings.dump();
    }
    const std::wstring ready = KelTest::UniqueName(L"service_ready");
    m_process = std::make_unique<KelTest::ChildProcess>(
        L"SystemProviderHost.exe",
        L"--pipe " + m_pipe + L" --config \"" + config + L"\" --journal \"" + m_journal + L"\" --ready-event " + ready,
        KelTest::ChildProcess::OutputMode::Capture);
    m_ready = m_process->Started() && KelTest::WaitForNamedEvent(ready, SERVICE_START_MS);
}

ServiceProcess::~ServiceProcess() {
    if (m_process->Wait(0) == STILL_ACTIVE) Stop();
}

std::vector<JsonValue> ServiceProcess::Journal() const {
    std::vector<JsonValue> entries;
    std::ifstream file(KelTest::Narrow(m_journal).c_str(), std::ios::binary);
    std::string line;
    while (std::getline(file, line)) {
        JsonValue entry = JsonValue::parse(line, nullptr, false);
        if (!entry.is_discarded()) entries.push_back(entry);
    }
    return entries;
}

bool ServiceProcess::WaitForJournal(size_t entries, DWORD timeoutMs) const {
    const DWORD start = ::GetTickCount();
    while (Journal().size() < entries) {
        if (::GetTickCount() - start > timeoutMs) return false;
        ::Sleep(20);
    }
    return true;
}

uint32_t ServiceProcess::Control(uint32_t messageId, JsonValue& body) {
    CIpcClient client;
    if (!client.Initialize(m_pipe)) return PROVIDER_RESULT_FAILED;
    return client.SendMessageToProvider(KEL_PROVIDER_HOST_CONTROL, messageId, body);
}

uint32_t ServiceProcess::Broadcast(uint32_t messageId, const JsonValue& body) {
    JsonValue request = {{"MessageId", messageId}, {"Body", body}};
    return Control(KEL_HOST_MSG_BROADCAST, request);
}

DWORD ServiceProcess::Stop() {
    JsonValue none;
    Control(KEL_HOST_MSG_STOP, none);
    return m_process->Wait(SERVICE_START_MS);
}
