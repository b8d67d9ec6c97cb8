#include "TestLog.h"
#include "DebugLog.h"
#include "ProductKeys.h"
#include "QvLog.h"
#include "TestWait.h"

#include <regex>

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

std::vector<std::wstring> SplitLines(const std::wstring& text, bool* complete) {
    std::vector<std::wstring> lines;
    bool whole = true;
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
        if (lines.back().find_first_of(L"\r\n") != std::wstring::npos) whole = false;
    }
    if (start != text.size()) {
        lines.push_back(text.substr(start));
        whole = false;
    }
    if (complete) *complete = whole;
    return lines;
}

// The message is cut out by hand and only the short head and tail go through
// regular expressions: libstdc++'s matcher recurses once per character and
// overflows a thread's stack on a message of a few thousand characters.
bool ParseLogLine(const std::wstring& text, LogLine& parsed) {
    static const std::wregex headFormat(
        LR"(^(\d{2})/(\d{2})/(\d{4}) (\d{2}):(\d{2}):(\d{2})\.(\d{3}) ([0-9a-f]{4,}):([0-9a-f]{4,}) )"
        LR"((.{3}) <([^>]*)> $)");
    static const std::wregex tailFormat(LR"(^ - ([^\\/:]+)\((\d+)\)$)");
    const size_t headEnd = text.find(L"> "), tailStart = text.rfind(L" - ");
    if (headEnd == std::wstring::npos || tailStart == std::wstring::npos || tailStart < headEnd + 2) return false;
    const std::wstring head = text.substr(0, headEnd + 2), tail = text.substr(tailStart);
    std::wsmatch m, t;
    if (!std::regex_match(head, m, headFormat) || !std::regex_match(tail, t, tailFormat)) return false;
    auto number = [&](int i) { return std::stoi(m[i].str()); };
    auto hex = [&](int i) { return static_cast<DWORD>(std::stoul(m[i].str(), nullptr, 16)); };
    parsed = {number(1), number(2), number(3), number(4), number(5), number(6), number(7), hex(8), hex(9),
              m[10].str(), m[11].str(), text.substr(headEnd + 2, tailStart - headEnd - 2), t[1].str(),
              std::stoul(t[2].str())};
    return true;
}

std::wstring TodayStamp() {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    wchar_t text[16];
    _snwprintf_s(text, _countof(text), _TRUNCATE, L"%04u-%02u-%02u", now.wYear, now.wMonth, now.wDay);
    return text;
}

} // namespace KelTest
