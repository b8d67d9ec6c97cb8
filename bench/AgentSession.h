#pragma once
// The product set up as on a user's machine for the length of a benchmark
// run: installed in the binary folder, in English, its debug log writing
// errors only into a folder of the run's own, the agent's memory check at
// the product's values, and the product's service on the system pipe. Every
// registry value set or removed here is put back at the end.
#include <memory>
#include "ProductKeys.h"
#include "QvLog.h"
#include "ServiceProcess.h"
#include "TestSupport.h"

// Errors only, the mask the log takes when "Level" is missing, as on a
// user's machine: at the developers' 0x111 every query writes trace lines,
// and the figures would be those of the log's file writes.
constexpr DWORD AGENT_BENCH_LOG_LEVEL = QVLOG_ERROR;

class AgentSession {
public:
    AgentSession();
    // The settings written and the service serving; what failed is on stderr.
    bool Ready() const { return m_ready; }
    // What the agents of the run wrote into their log so far.
    size_t LogBytes() const { return KelTest::ReadFolder(m_logs.Path()).size(); }

private:
    KelTest::TempFolder m_logs;
    KelTest::RegistryScope m_debugLog{QV_DEBUGLOG_KEY};
    KelTest::RegistryScope m_product{QV_PRODUCT_KEY};
    // The agent reads its memory check in the registry view of its architecture.
    KelTest::RegistryScope m_agentSettings{QV_PRODUCT_KEY, KelTest::OWN_VIEW};
    std::unique_ptr<ServiceProcess> m_service;
    bool m_ready = false;
};
