#pragma once
// Provider 6: every other process and provider reaches the agent's windows
// and desktop services through its messages, and it carries the message that
// ends the agent.
#include <windows.h>
#include <memory>
#include "FrameManager.h"
#include "ProviderInterfaces.h"
#include "WorkspaceManager.h"

class CWorkspaceProvider : public IFunctionProvider {
public:
    // exitEvent: the console thread manager's, not owned; may be null.
    CWorkspaceProvider(IProviderController* controller, FrameManager* frameManager, HANDLE exitEvent);
    ~CWorkspaceProvider() override;

    uint32_t Initialize() override { return PROVIDER_RESULT_OK; }
    uint32_t PostInitialize() override;
    uint32_t Uninitialize() override { return PROVIDER_RESULT_OK; }
    uint32_t MessageProc(uint32_t messageId, JsonValue& body) override;
    bool QueryState(uint32_t, uint32_t) override { return true; }

    CWorkspaceManager* GetManager() const { return m_manager.get(); }

private:
    std::unique_ptr<CWorkspaceManager> m_manager;
    HANDLE m_exitEvent;
};
