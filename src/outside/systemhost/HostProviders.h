#pragma once
// The providers of the product's service: the browser-settings provider
// (class 12), the misc provider (class 13) and the service's own control
// (class 0x7F).
#include <windows.h>
#include <string>
#include "HostSettings.h"
#include "ProviderInterfaces.h"
#include "Synchronize.h"

// A provider whose life-cycle operations have nothing to do.
class CSimpleProvider : public IFunctionProvider {
public:
    using IFunctionProvider::IFunctionProvider;
    uint32_t Initialize() override { return PROVIDER_RESULT_OK; }
    uint32_t PostInitialize() override { return PROVIDER_RESULT_OK; }
    uint32_t Uninitialize() override { return PROVIDER_RESULT_OK; }
    bool QueryState(uint32_t, uint32_t) override { return true; }
};

// Answers the setup, entry-point, keyboard-driver and display-flag questions
// of the agent from the settings.
class CMiscProvider : public CSimpleProvider {
public:
    CMiscProvider(IProviderController* controller, const HostSettings& settings);
    uint32_t MessageProc(uint32_t messageId, JsonValue& body) override;
private:
    QvCommon::Synchronize::CriticalSection m_lock;
    HostSettings m_settings;
    std::wstring m_entryPoint;
};

// Takes the browser-settings refresh.
class CBrowserSettingsProvider : public CSimpleProvider {
public:
    explicit CBrowserSettingsProvider(IProviderController* controller);
    uint32_t MessageProc(uint32_t messageId, JsonValue& body) override;
};

// Stops the service and broadcasts on request.
class CHostControlProvider : public CSimpleProvider {
public:
    CHostControlProvider(IProviderController* controller, HANDLE stopEvent);
    uint32_t MessageProc(uint32_t messageId, JsonValue& body) override;
private:
    HANDLE m_stopEvent;
};
