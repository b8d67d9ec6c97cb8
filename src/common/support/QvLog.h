#pragma once
// The one logging macro. Every statement passes its source file and line, a
// level and a wide format in the Microsoft convention ("%s" takes a wide
// string):  QVLOG(QVLOG_ERROR, L"Failed: 0x%08x", code);
#include "DebugLog.h"

#include <string>

constexpr DWORD QVLOG_TRACE = 0x1;
constexpr DWORD QVLOG_INFO = 0x10;
constexpr DWORD QVLOG_ERROR = 0x100;

#define QVLOG(level, ...) \
    ::QvCommon::DebugLog::Instance().Trace(__FILE__, __LINE__, (level), __VA_ARGS__)

// True when a line of the level would be written: a caller that must build
// costly text for its line asks first.
inline bool QvLogWanted(DWORD level) { return ::QvCommon::DebugLog::Instance().Wants(level); }

#define QVLOG_DUMP(level, data, size) \
    ::QvCommon::DebugLog::Instance().DumpMemory(__FILE__, __LINE__, (level), (data), (size))

// Text that another process supplied goes into a log line cut to this many
// characters and followed by its full length, so that no caller decides how
// long a line is or how long writing it takes.
constexpr size_t QVLOG_CALLER_TEXT_LIMIT = 512;

inline std::wstring QvLogCallerText(const std::wstring& text) {
    if (text.size() <= QVLOG_CALLER_TEXT_LIMIT) return text;
    return text.substr(0, QVLOG_CALLER_TEXT_LIMIT) + L"... (" + std::to_wstring(text.size()) + L" chars)";
}
