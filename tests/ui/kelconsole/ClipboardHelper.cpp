// Another process of the session reading the clipboard: prints the Unicode
// text it holds as UTF-8 and ends with 0, or ends with 2 when there is none.
#include <windows.h>
#include <cstdio>
#include <string>
#include "JsonBody.h"
#include "QvHandle.h"

int wmain() {
    QvCommon::ClipboardScope clipboard;
    if (!clipboard.IsOpen()) return 3;
    HANDLE data = ::GetClipboardData(CF_UNICODETEXT);
    const wchar_t* text = data ? static_cast<const wchar_t*>(::GlobalLock(data)) : nullptr;
    if (!text) return 2;
    const std::string utf8 = KelJson::ToUtf8(text);
    fwrite(utf8.data(), 1, utf8.size(), stdout);
    ::GlobalUnlock(data);
    return 0;
}
