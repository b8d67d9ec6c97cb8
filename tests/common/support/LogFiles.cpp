#include "LogFiles.h"
#include "QvHandle.h"

#include <algorithm>
#include <regex>

namespace KelTest {

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || folder.back() == L'\\') return folder + name;
    return folder + L'\\' + name;
}

std::vector<std::wstring> FileNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    QvCommon::UniqueFind find(::FindFirstFileW(Join(folder, L"*").c_str(), &data));
    if (!find) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
    } while (::FindNextFileW(find.get(), &data));
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadBytes(const std::wstring& path) {
    QvCommon::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    if (!file) return bytes;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read != 0)
        bytes.append(buffer, read);
    return bytes;
}

std::wstring FromUtf8(const std::string& bytes) {
    if (bytes.empty()) return std::wstring();
    int length = ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                       nullptr, 0);
    std::wstring text(length, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0],
                          length);
    return text;
}

std::wstring ReadLogs(const std::wstring& folder) {
    std::wstring text;
    for (const std::wstring& name : FileNames(folder))
        text += FromUtf8(ReadBytes(Join(folder, name)));
    return text;
}

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

bool ParseLogLine(const std::wstring& text, LogLine& parsed) {
    static const std::wregex format(
        LR"(^(\d{2})/(\d{2})/(\d{4}) (\d{2}):(\d{2}):(\d{2})\.(\d{3}) ([0-9a-f]{4,}):([0-9a-f]{4,}) )"
        LR"((.{3}) <([^>]*)> (.*) - ([^\\/:]+)\((\d+)\)$)");
    std::wsmatch m;
    if (!std::regex_match(text, m, format)) return false;
    auto number = [&](int i) { return std::stoi(m[i].str()); };
    parsed.day = number(1);
    parsed.month = number(2);
    parsed.year = number(3);
    parsed.hour = number(4);
    parsed.minute = number(5);
    parsed.second = number(6);
    parsed.millisecond = number(7);
    parsed.processId = std::stoul(m[8].str(), nullptr, 16);
    parsed.threadId = std::stoul(m[9].str(), nullptr, 16);
    parsed.marker = m[10].str();
    parsed.module = m[11].str();
    parsed.message = m[12].str();
    parsed.file = m[13].str();
    parsed.line = std::stoul(m[14].str());
    return true;
}

std::wstring TodayStamp() {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    wchar_t text[16];
    _snwprintf_s(text, _countof(text), _TRUNCATE, L"%04u-%02u-%02u", now.wYear, now.wMonth,
                 now.wDay);
    return text;
}

} // namespace KelTest
