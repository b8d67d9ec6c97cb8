#pragma once
// The product's service (SystemProviderHost.exe) in a process of its own for
// the length of a test: its answers from a JSON file, its journal in a temp
// folder, stopped through its control message at the end.
#include <windows.h>
#include <memory>
#include <string>
#include <vector>
#include "JsonBody.h"
#include "TestSupport.h"

class ServiceProcess {
public:
    // A unique pipe unless the test needs the product's system pipe.
    explicit ServiceProcess(const JsonValue& settings,
                            const std::wstring& pipe = KelTest::UniqueName(L"kelsys"));
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // Started and serving its pipe.
    bool Ready() const { return m_ready; }
    const std::wstring& Pipe() const { return m_pipe; }
    // Every message the service received, in order.
    std::vector<JsonValue> Journal() const;
    bool WaitForJournal(size_t entries, DWORD timeoutMs = 10000) const;
    // Asks the service to broadcast; its result code.
    uint32_t Broadcast(uint32_t messageId, const JsonValue& body);
    // Asks the service to stop; its exit code.
    DWORD Stop();
    std::string Output() const { return m_process->Output(); }

private:
    uint32_t Control(uint32_t messageId, JsonValue& body);

    std::wstring m_pipe;
    KelTest::TempFolder m_folder;
    std::wstring m_journal;
    std::unique_ptr<KelTest::ChildProcess> m_process;
    bool m_ready = false;
};

// A cold Wine process start can take seconds on a busy machine.
constexpr DWORD SERVICE_START_MS = 30000;
