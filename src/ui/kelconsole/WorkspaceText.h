#pragma once
// printf-style wide text of any length, for scripts and frame descriptions
// that carry the caller's data. A text that cannot be allocated is a resource
// state the workspace does not go on from: a result exception E_OUTOFMEMORY.
#include <string>
#include "JsonBody.h"
#include "QvLog.h"

std::wstring FormatText(const wchar_t* format, ...);

// A JSON value in its compact text, for scripts.
inline std::wstring JsonText(const JsonValue& value) { return KelJson::Write(value); }
// A caller's JSON value for a log line: cut, with its length.
inline std::wstring JsonLogText(const JsonValue& value) { return QvLogCallerText(JsonText(value)); }
