#pragma once
// The one logging macro. Every statement passes its source file and line, a
// level and a wide format in the Microsoft convention ("%s" takes a wide
// string):  QVLOG(QVLOG_ERROR, L"Failed: 0x%08x", code);
#include "DebugLog.h"

constexpr DWORD QVLOG_TRACE = 0x1;
constexpr DWORD QVLOG_INFO = 0x10;
constexpr DWORD QVLOG_ERROR = 0x100;

#define QVLOG(level, ...) \
    ::QvCommon::DebugLog::Instance().Trace(__FILE__, __LINE__, (level), __VA_ARGS__)

#define QVLOG_DUMP(level, data, size) \
    ::QvCommon::DebugLog::Instance().DumpMemory(__FILE__, __LINE__, (level), (data), (size))
