#include "SetupLauncher.h"

#include "ProcessLauncher.h"
#include "ProviderMessages.h"
#include "QvLog.h"
#include "SecurityAttributes.h"

bool InvokeProcessAsynch(const std::wstring& command) {
    if (command.empty()) return false;
    QvCommon::AccessControl::SecurityAttributes security(QVSEC_KIND_PROCESS, QVSEC_INTEGRITY_NONE, false);
    DWORD error = 0;
    if (!QvCommon::Process::InvokeProcess(command, false, false, QvCommon::Process::Show::Default, 0, nullptr,
                                          &error, security.Get())) {
        QVLOG(QVLOG_ERROR, L"InvokeProcessAsynch failed! Command: %s, Error: %ld", command.c_str(),
              static_cast<long>(error));
        return false;
    }
    return true;
}

CSetupLauncher::CSetupLauncher(const std::wstring& entryPoint, bool silent)
    : m_entryPoint(entryPoint), m_silent(silent) {
    if (!m_client.Initialize()) {
        QVLOG(QVLOG_ERROR, L"Failed to initialize IPC client");
        return;
    }
    JsonValue body;
    const uint32_t result = m_client.SendMessageToProvider(KEL_PROVIDER_MISC, KEL_MISC_MSG_SETUP_COMMAND, body);
    if (IsProviderFailure(result)) {
        QVLOG(QVLOG_ERROR, L"Send message to misc provider failed, Error: 0x%08x", result);
        QVLOG(QVLOG_ERROR, L"Failed to get the necessary information");
        return;
    }
    if (KelJson::HasString(body, "SetupCommand"))
        m_setupCommand = KelJson::GetString(body, "SetupCommand");
    m_initialized = true;
}

bool CSetupLauncher::Launch() {
    if ((m_initialized && m_setupCommand.empty()) || m_silent) return false;
    if (!m_entryPoint.empty()) {
        JsonValue body = JsonValue::object();
        body["EntryPoint"] = KelJson::ToUtf8(m_entryPoint);
        m_client.SendMessageToProvider(KEL_PROVIDER_MISC, KEL_MISC_MSG_ENTRY_POINT, body);
    }
    return InvokeProcessAsynch(m_setupCommand);
}
