#include "WorkspaceText.h"

#include <windows.h>
#include <cstdarg>
#include <cstdio>
#include <new>
#include "QvException.h"

std::wstring FormatText(const wchar_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list counting;
    va_copy(counting, arguments);
    const int length = _vscwprintf(format, counting);
    va_end(counting);
    std::wstring text;
    try {
        if (length > 0) {
            text.resize(static_cast<size_t>(length) + 1);
            _vsnwprintf(&text[0], text.size(), format, arguments);
            text.resize(static_cast<size_t>(length));
        }
    } catch (const std::bad_alloc&) {
        va_end(arguments);
        throw QvCommon::Exception::Result(E_OUTOFMEMORY);
    }
    va_end(arguments);
    return text;
}
