#include "HostProviders.h"
#include "ProviderMessages.h"
#include "QvLog.h"

CMiscProvider::CMiscProvider(IProviderController* controller, const HostSettings& settings)
    : CSimpleProvider(controller), m_settings(settings) {
    m_classId = KEL_PROVIDER_MISC;
}

uint32_t CMiscProvider::MessageProc(uint32_t messageId, JsonValue& body) {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    switch (messageId) {
    case KEL_MISC_MSG_SETUP_COMMAND:
        body = JsonValue::object();
        body["SetupCommand"] = KelJson::ToUtf8(m_settings.setupCommand);
        return PROVIDER_RESULT_OK;
    case KEL_MISC_MSG_ENTRY_POINT:
        if (!KelJson::HasString(body, "EntryPoint")) return PROVIDER_RESULT_INVALID_PARAMETER;
        m_entryPoint = KelJson::GetString(body, "EntryPoint");
        return PROVIDER_RESULT_OK;
    case KEL_MISC_MSG_ETD_CHECK:
        body = JsonValue::object();
        body["IsETDExistAndNotUpToDate"] = m_settings.etdNeedsUpdate;
        return PROVIDER_RESULT_OK;
    case KEL_MISC_MSG_DISPLAY_FLAG: {
        // A body holding "ClearFlag" clears the flag; any other asks for it.
        const bool clear = body.is_object() && body.contains("ClearFlag");
        if (clear) m_settings.displayMainConsole = false;
        body = JsonValue::object();
        body["DisplayMainConsoleFlag"] = m_settings.displayMainConsole;
        return PROVIDER_RESULT_OK;
    }
    case KEL_MISC_MSG_BEFORE_DRIVER_CHECK:
    case KEL_MISC_MSG_ENABLE_KBFILTER:
    case KEL_MISC_MSG_DRIVER_CHECK_PASSED:
    case KEL_MISC_MSG_KEYSTROKE_ENABLED:
        return PROVIDER_RESULT_OK;   // taken note of in the journal
    default:
        return PROVIDER_RESULT_NOT_SUPPORTED;
    }
}

CBrowserSettingsProvider::CBrowserSettingsProvider(IProviderController* controller)
    : CSimpleProvider(controller) {
    m_classId = KEL_PROVIDER_BROWSER_SETTINGS;
}

uint32_t CBrowserSettingsProvider::MessageProc(uint32_t messageId, JsonValue& body) {
    if (messageId != KEL_BROWSER_MSG_REFRESH_SETTINGS) return PROVIDER_RESULT_NOT_SUPPORTED;
    if (!KelJson::GetBool(body, "RefreshIESettings")) return PROVIDER_RESULT_INVALID_PARAMETER;
    QVLOG(QVLOG_INFO, L"CBrowserSettingsProvider: browser settings refreshed.");
    return PROVIDER_RESULT_OK;
}

CHostControlProvider::CHostControlProvider(IProviderController* controller, HANDLE stopEvent)
    : CSimpleProvider(controller), m_stopEvent(stopEvent) {
    m_classId = KEL_PROVIDER_HOST_CONTROL;
}

uint32_t CHostControlProvider::MessageProc(uint32_t messageId, JsonValue& body) {
    switch (messageId) {
    case KEL_HOST_MSG_STOP:
        ::SetEvent(m_stopEvent);
        return PROVIDER_RESULT_OK;
    case KEL_HOST_MSG_BROADCAST: {
        if (!body.is_object() || !KelJson::IsIntegral(body.value("MessageId", JsonValue())))
            return PROVIDER_RESULT_INVALID_PARAMETER;
        const uint32_t broadcast = static_cast<uint32_t>(KelJson::GetInt(body, "MessageId"));
        const JsonValue payload = body.value("Body", JsonValue());
        QVLOG(QVLOG_INFO, L"CHostControlProvider: broadcasting 0x%08x", broadcast);
        return m_controller->BroadcastMessageToListeners(broadcast, payload);
    }
    default:
        return PROVIDER_RESULT_NOT_SUPPORTED;
    }
}
