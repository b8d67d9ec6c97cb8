#pragma once
// The PIN provider (class 3). It holds the PIN state of the session:
//   0  no valid PIN (after an invalidation: lock, suspend, screen saver)
//   1  PIN valid
//   2  PIN valid, and the golden key changed since its last backup
// (any other "PinState" makes the state unreadable: its query fails),
// and whether the keystroke driver may be used. Its starting state comes from
// HKLM "Software\Quorvane\NORDAL\PinProvider" (64-bit view under WOW64):
// "PinState" (DWORD, default 1), "PinDriverEnable" (DWORD, default 1) and
// "GoldenKeyBackupFolder" (string, default the temp folder), read at
// initialisation.
#include <windows.h>
#include <cstdint>
#include <string>
#include "ProviderInterfaces.h"
#include "Synchronize.h"

constexpr uint32_t PIN_STATE_INVALID = 0;
constexpr uint32_t PIN_STATE_VALID = 1;
constexpr uint32_t PIN_STATE_KEY_NOT_BACKED_UP = 2;

#define PIN_PROVIDER_KEY L"Software\\Quorvane\\NORDAL\\PinProvider"
#define PIN_BACKUP_FILE_NAME L"GoldenKey.bak"

class CPinProvider : public IFunctionProvider {
public:
    explicit CPinProvider(IProviderController* controller);

    uint32_t Initialize() override;
    uint32_t PostInitialize() override;
    uint32_t Uninitialize() override;
    uint32_t MessageProc(uint32_t messageId, JsonValue& body) override;
    bool QueryState(uint32_t first, uint32_t second) override;

private:
    uint32_t BackUpGoldenKey(JsonValue& body);

    QvCommon::Synchronize::CriticalSection m_lock;
    uint32_t m_pinState = PIN_STATE_VALID;
    bool m_driverEnabled = true;
    uint32_t m_agentStarts = 0;
    uint32_t m_backups = 0;
    std::wstring m_backupFolder;
};
