#pragma once
// The real agent as a user's session runs it, with the product's service in
// a process of its own, its debug log in a folder of the test's, and a
// client on the session pipe.
#include <gtest/gtest.h>

#include <memory>
#include "IpcClient.h"
#include "IpcDefs.h"
#include "ProductKeys.h"
#include "ProviderMessages.h"
#include "ProviderWrappers.h"
#include "ServiceProcess.h"
#include "TestSupport.h"

using KelTest::ChildProcess;
using KelTest::WaitUntil;

class Agent : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_debugLog.Set(KelTest::LogSettings(0x111, m_logs.Path()), QV_DEBUGLOG_INTERACTIVE));
        // The agent reads its own settings in the registry view of its architecture.
        ASSERT_TRUE(m_agentSettings.Remove(QV_VALUE_WORKING_SET_MB));
        ASSERT_TRUE(m_agentSettings.Remove(QV_VALUE_MEMORY_CHECK_INTERVAL));
        ASSERT_TRUE(m_pin.SetDword(L"PinState", 1));
        ASSERT_FALSE(CIpcServerProviderWrapper::IsSessionAgentRunning()) << "an agent of another test still runs";
    }
    void TearDown() override { EndAnyAgent(); }

    // A restarted agent is nobody's child: it is asked to go.
    static void EndAnyAgent() {
        if (CIpcServerProviderWrapper::IsSessionAgentRunning()) Send(KEL_PROVIDER_WORKSPACE_MSG_EXIT_PROGRAM);
        EXPECT_TRUE(WaitUntil([] { return !CIpcServerProviderWrapper::IsSessionAgentRunning(); }, 30000));
    }

    void StartService(const JsonValue& settings = JsonValue::object()) {
        m_service = std::make_unique<ServiceProcess>(settings, IPC_SYSTEM_PIPE);
        ASSERT_TRUE(m_service->Ready()) << m_service->Output();
    }
    std::unique_ptr<ChildProcess> StartAgent(const std::wstring& arguments) {
        return std::make_unique<ChildProcess>(L"KelConsole.exe", arguments);
    }
    static bool WaitServing() {
        return WaitUntil([] { JsonValue body; return Send(KEL_PROVIDER_WORKSPACE_MSG_GET_CONSOLE_UI_STATUS, body) == 0; },
                         KelTest::CHILD_START_MS, 100);
    }
    // To the agent's session pipe; the result code.
    static uint32_t Send(uint32_t messageId, JsonValue& body, uint32_t classId = KEL_PROVIDER_WORKSPACE) {
        CIpcClient client;
        if (!client.Initialize(IPC_SESSION_PIPE)) return PROVIDER_RESULT_FAILED;
        return client.SendMessageToProvider(classId, messageId, body);
    }
    static uint32_t Send(uint32_t messageId) { JsonValue none; return Send(messageId, none); }
    static int64_t ShownWindows() {
        JsonValue body;
        return Send(KEL_PROVIDER_WORKSPACE_MSG_GET_ACTIVATED_UI_COUNT, body) == 0 ? KelJson::GetInt(body, "ActivatedUiCnt") : -1;
    }
    DWORD Exit(ChildProcess& agent) {
        EXPECT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_EXIT_PROGRAM));
        return agent.Wait(KelTest::CHILD_START_MS);
    }
    bool Logged(const std::string& text, size_t count = 1) const { return m_log.WaitFor(text, 10000, count); }

    KelTest::TempFolder m_logs;
    KelTest::LogFolder m_log{m_logs.Path()};
    KelTest::RegistryScope m_debugLog{QV_DEBUGLOG_KEY};
    KelTest::RegistryScope m_agentSettings{QV_PRODUCT_KEY, KelTest::OWN_VIEW};
    KelTest::RegistryScope m_productSettings{QV_PRODUCT_KEY};
    KelTest::RegistryScope m_pin{QV_PRODUCT_KEY L"\\PinProvider"};
    std::unique_ptr<ServiceProcess> m_service;
};
