#include "PageText.h"

#include <windows.h>
#include <cwctype>

#include "JsonBody.h"
#include "QvHandle.h"

namespace {

bool StartsWithNoCase(const std::wstring& text, size_t at, const wchar_t* prefix) {
    for (size_t i = 0; prefix[i]; ++i) {
        if (at + i >= text.size() || std::towlower(text[at + i]) != prefix[i]) return false;
    }
    return true;
}

size_t FindNoCase(const std::wstring& text, size_t from, const wchar_t* what) {
    for (size_t at = from; at < text.size(); ++at) {
        if (StartsWithNoCase(text, at, what)) return at;
    }
    return std::wstring::npos;
}

// Only the entities that plain pages use; others stay as written.
void AppendDecoded(const std::wstring& text, std::wstring& out) {
    static const struct { const wchar_t* name; wchar_t c; } entities[] = {
        {L"&amp;", L'&'}, {L"&lt;", L'<'}, {L"&gt;", L'>'}, {L"&quot;", L'"'}, {L"&#39;", L'\''}, {L"&nbsp;", L' '}};
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        size_t skip = 0;
        if (c == L'&') {
            for (const auto& e : entities) {
                if (StartsWithNoCase(text, i, e.name)) { c = e.c; skip = wcslen(e.name) - 1; break; }
            }
        }
        i += skip;
        if (std::iswspace(c)) {
            if (!out.empty() && out.back() != L' ') out += L' ';
        } else {
            out += c;
        }
    }
}

void Trim(std::wstring& text) {
    while (!text.empty() && text.back() == L' ') text.pop_back();
    if (!text.empty() && text.front() == L' ') text.erase(0, 1);
}

} // namespace

PageText ExtractPageText(const std::wstring& html) {
    PageText page;
    size_t at = 0;
    while (at < html.size()) {
        size_t open = html.find(L'<', at);
        AppendDecoded(html.substr(at, open == std::wstring::npos ? std::wstring::npos : open - at), page.body);
        if (open == std::wstring::npos) break;
        if (StartsWithNoCase(html, open, L"<!--")) {
            size_t end = html.find(L"-->", open);
            at = end == std::wstring::npos ? html.size() : end + 3;
            continue;
        }
        size_t close = html.find(L'>', open);
        if (close == std::wstring::npos) break;
        // Text inside these elements is not shown as text; a title is shown
        // apart from the body.
        const bool isTitle = StartsWithNoCase(html, open, L"<title");
        const wchar_t* container = isTitle ? L"</title"
                                   : StartsWithNoCase(html, open, L"<script") ? L"</script"
                                   : StartsWithNoCase(html, open, L"<style") ? L"</style" : nullptr;
        if (!container) {
            if (!page.body.empty() && page.body.back() != L' ') page.body += L' ';
            at = close + 1;
            continue;
        }
        size_t end = FindNoCase(html, close + 1, container);
        if (isTitle)
            AppendDecoded(html.substr(close + 1, end == std::wstring::npos ? std::wstring::npos : end - close - 1),
                          page.title);
        at = end == std::wstring::npos ? html.size() : html.find(L'>', end);
        at = at == std::wstring::npos ? html.size() : at + 1;
    }
    Trim(page.title);
    Trim(page.body);
    return page;
}

std::wstring ResolvePage(const std::wstring& page, const std::wstring& installedFolder) {
    const bool given = page.find(L':') != std::wstring::npos || (!page.empty() && (page[0] == L'\\' || page[0] == L'/'));
    if (given || installedFolder.empty()) return page;
    return installedFolder.back() == L'\\' ? installedFolder + page : installedFolder + L'\\' + page;
}

bool ReadPage(const std::wstring& location, std::wstring& html) {
    std::wstring path = location;
    if (StartsWithNoCase(path, 0, L"file:///")) {
        path.erase(0, 8);
        for (auto& c : path) if (c == L'/') c = L'\\';
    } else if (path.find(L"://") != std::wstring::npos) {
        return false;
    }
    QvCommon::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
        html.assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / sizeof(wchar_t));
        return true;
    }
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    html = KelJson::FromUtf8(bytes);
    return true;
}
