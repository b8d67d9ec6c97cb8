#pragma once
// The product's service (SystemProviderHost.exe) in a process of its own for
// the length of a test: its answers from a JSON file, its journal in a temp
// folder, stopped through its control message at the end.
#include <memory>
#include <string>
#include <vector>
#include "JsonBody.h"
#include "TestSupport.h"

class ServiceProcess {
public:
    // A unique pipe unless the test needs the product's system pipe.
    explicit ServiceProcess(const JsonValue& settings, const std::wstring& pipe = KelTest::UniqueName(L"kelsys"));
    ~ServiceProcess() { if (m_process->Running()) Stop(); }

    // Started and serving its pipe.
    bool Ready() const { return m_ready; }
    const std::wstring& Pipe() const { return m_pipe; }
    // Every message the service received, in order.
    std::vector<JsonValue> Journal() const;
    // Asks the service to broadcast; its result code.
    uint32_t Broadcast(uint32_t messageId, const JsonValue& body);
    // Asks the service to stop; its exit code.
    DWORD Stop();
    std::string Output() const { return m_process->Output(); }

private:
    std::wstring m_pipe;
    KelTest::TempFolder m_folder;
    KelTest::NamedEvent m_readyEvent;   // exists before the service starts
    std::unique_ptr<KelTest::ChildProcess> m_process;
    bool m_ready = false;
};
