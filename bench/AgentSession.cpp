#include "AgentSession.h"

#include <cstdio>
#include "IpcDefs.h"

AgentSession::AgentSession() {
    const bool settings =
        m_debugLog.Set(KelTest::LogSettings(AGENT_BENCH_LOG_LEVEL, m_logs.Path()), QV_DEBUGLOG_INTERACTIVE) &&
        m_product.SetString(QV_VALUE_PRODUCT_PATH, KelTest::ProgramFolder()) &&
        m_product.SetString(QV_VALUE_LANGUAGE, QV_DEFAULT_LANGUAGE) &&
        // A value left by a test would restart the agent for its memory.
        m_agentSettings.Remove(QV_VALUE_WORKING_SET_MB) && m_agentSettings.Remove(QV_VALUE_MEMORY_CHECK_INTERVAL);
    if (!settings) {
        std::fprintf(stderr, "the product's settings could not be written\n");
        return;
    }
    m_service = std::make_unique<ServiceProcess>(JsonValue::object(), IPC_SYSTEM_PIPE);
    m_ready = m_service->Ready();
    if (!m_ready) std::fprintf(stderr, "the service did not start:\n%s\n", m_service->Output().c_str());
}
