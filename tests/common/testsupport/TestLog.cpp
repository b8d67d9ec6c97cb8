#include "TestLog.h"
#include "DebugLog.h"
#include "ProductKeys.h"
#include "QvLog.h"
#include "TestWait.h"

namespace KelTest {

size_t LogFolder::Count(const std::string& needle) const {
    const std::string text = Text();
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size()))
        ++count;
    return count;
}

bool LogFolder::WaitFor(const std::string& needle, DWORD timeoutMs, size_t count) const {
    return WaitUntil([&] { return Count(needle) >= count; }, timeoutMs);
}

std::vector<RegistryValue> LogSettings(DWORD level, const std::wstring& folder) {
    return {RegistryValue::Dword(QV_VALUE_LOG_ENABLE, 1), RegistryValue::Dword(QV_VALUE_LOG_LEVEL, level),
            RegistryValue::Dword(QV_VALUE_LOG_PROCESS, 0), RegistryValue::Dword(QV_VALUE_LOG_UNIT_TYPE, 0),
            RegistryValue::String(QV_VALUE_LOG_FOLDER, folder)};
}

CapturedLog::CapturedLog(DWORD level) : CapturedLog(std::unique_ptr<TempFolder>(new TempFolder), level) {}

CapturedLog::CapturedLog(std::unique_ptr<TempFolder> folder, DWORD level)
    : LogFolder(folder->Path()), m_ownFolder(std::move(folder)) {
    Start(level);
}

CapturedLog::CapturedLog(const std::wstring& folder, DWORD level) : LogFolder(folder) { Start(level); }

void CapturedLog::Start(DWORD level) {
    std::vector<RegistryValue> values = LogSettings(level, Path());
    values.push_back(RegistryValue::String(QV_VALUE_LOG_PREFIX, L"KelTest"));
    m_initialized = m_key.Set(values, QV_DEBUGLOG_INTERACTIVE) &&
                    QvCommon::DebugLog::Instance().Initialize(L"KelTest", m_key.Location(), L".\\",
                                                              QVLOG_SESSION_DETECT);
}

CapturedLog::~CapturedLog() { QvCommon::DebugLog::Instance().Uninitialize(); }

} // namespace KelTest
