#include "PinProvider.h"
#include "Folders.h"
#include "ProviderMessages.h"
#include "QvHandle.h"
#include "QvLog.h"
#include "Storage.h"
#include "TempFolder.h"

CPinProvider::CPinProvider(IProviderController* controller) : IFunctionProvider(controller) {
    m_classId = KEL_PROVIDER_PIN;
}

uint32_t CPinProvider::Initialize() {
    const DWORD view = Frwk::Utility::ProductRegistryView();
    QvCommon::Synchronize::AutoLock lock(m_lock);
    m_pinState = ReadRegDword(PIN_PROVIDER_KEY, L"PinState", PIN_STATE_VALID, view);
    m_driverEnabled = ReadRegDword(PIN_PROVIDER_KEY, L"PinDriverEnable", 1, view) != 0;
    m_backupFolder = ReadRegString(HKEY_LOCAL_MACHINE, PIN_PROVIDER_KEY, L"GoldenKeyBackupFolder", L"", view);
    if (m_backupFolder.empty()) m_backupFolder = GetTempFolder();
    // Without any folder a backup would land in the root of the current drive.
    if (m_backupFolder.empty())
        QVLOG(QVLOG_ERROR, L"CPinProvider::Initialize: No backup folder and no temp folder; backups will fail.");
    else if (m_backupFolder.back() != L'\\')
        m_backupFolder += L'\\';
    QVLOG(QVLOG_INFO, L"CPinProvider::Initialize: PinState=%u PinDriverEnable=%d", m_pinState,
          m_driverEnabled ? 1 : 0);
    return PROVIDER_RESULT_OK;
}

uint32_t CPinProvider::PostInitialize() { return PROVIDER_RESULT_OK; }

uint32_t CPinProvider::Uninitialize() { return PROVIDER_RESULT_OK; }

bool CPinProvider::QueryState(uint32_t, uint32_t) { return true; }

uint32_t CPinProvider::MessageProc(uint32_t messageId, JsonValue& body) {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    // Callers and tests follow what the provider was told, in order.
    if (QvLogWanted(QVLOG_TRACE))
        QVLOG(QVLOG_TRACE, L"CPinProvider::MessageProc: 0x%08x %s", messageId,
              QvLogCallerText(KelJson::Write(body)).c_str());
    switch (messageId) {
    case KEL_PIN_MSG_GET_STATE:
        // A state read from the settings that is none of the three cannot be reported.
        if (m_pinState > PIN_STATE_KEY_NOT_BACKED_UP) return PROVIDER_RESULT_FAILED;
        body = JsonValue::object();
        body["PinState"] = m_pinState;
        body["GoldenKeyBackups"] = m_backups;
        return PROVIDER_RESULT_OK;
    case KEL_PIN_MSG_KEYSTROKE_STATUS:
        body = JsonValue::object();
        body["PinDriverEnable"] = m_driverEnabled;
        return PROVIDER_RESULT_OK;
    case KEL_PIN_MSG_SET_DRIVER_ENABLE:
        if (!body.is_object() || !body.contains("PinDriverEnable")) return PROVIDER_RESULT_INVALID_PARAMETER;
        m_driverEnabled = KelJson::GetBool(body, "PinDriverEnable");
        return PROVIDER_RESULT_OK;
    case KEL_PIN_MSG_INVALIDATE:
        QVLOG(QVLOG_INFO, L"CPinProvider: PIN invalidated (was %u).", m_pinState);
        m_pinState = PIN_STATE_INVALID;
        return PROVIDER_RESULT_OK;
    case KEL_PIN_MSG_AGENT_STARTED:
        ++m_agentStarts;
        return PROVIDER_RESULT_OK;
    case KEL_PIN_MSG_BACKUP_GOLDEN_KEY:
        return BackUpGoldenKey(body);
    default:
        return PROVIDER_RESULT_NOT_SUPPORTED;
    }
}

// Writes the backup file and marks the key as saved; the caller holds the lock.
uint32_t CPinProvider::BackUpGoldenKey(JsonValue& body) {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    JsonValue record = JsonValue::object();
    record["PinState"] = m_pinState;
    record["Backup"] = m_backups + 1;
    record["Time"] = KelJson::ToUtf8(std::to_wstring(now.wYear) + L"-" + std::to_wstring(now.wMonth) + L"-" +
                                     std::to_wstring(now.wDay) + L" " + std::to_wstring(now.wHour) + L":" +
                                     std::to_wstring(now.wMinute) + L":" + std::to_wstring(now.wSecond));
    const std::string text = KelJson::ToUtf8(KelJson::Write(record));
    if (m_backupFolder.empty()) return PROVIDER_RESULT_FAILED;
    const std::wstring path = m_backupFolder + PIN_BACKUP_FILE_NAME;
    QvCommon::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        QVLOG(QVLOG_ERROR, L"CPinProvider: Golden key backup to %s failed: %u", path.c_str(), ::GetLastError());
        return PROVIDER_RESULT_FAILED;
    }
    ++m_backups;
    if (m_pinState == PIN_STATE_KEY_NOT_BACKED_UP) m_pinState = PIN_STATE_VALID;
    body = JsonValue::object();
    body["BackupFile"] = KelJson::ToUtf8(path);
    body["PinState"] = m_pinState;
    QVLOG(QVLOG_INFO, L"CPinProvider: Golden key backed up to %s", path.c_str());
    return PROVIDER_RESULT_OK;
}
