#include "JsonBody.h"

#include <windows.h>

#include <algorithm>

namespace KelJson {

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
    std::string narrow(length, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], length,
                          nullptr, nullptr);
    return narrow;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) return std::wstring();
    int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(length, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

namespace {
// The deepest nesting of arrays and objects in the text, counted up to one
// past the limit; brackets inside strings do not count. A pass of its own:
// the JSON library's parser with a callback (which could count as it goes)
// rescans the parent on every closing object, which makes an array of many
// small objects cost time in the square of their number.
int NestingDepth(const std::wstring& text) {
    int depth = 0, deepest = 0;
    bool inString = false, escaped = false;
    for (wchar_t c : text) {
        if (inString) {
            if (escaped) escaped = false;
            else if (c == L'\\') escaped = true;
            else if (c == L'"') inString = false;
        } else if (c == L'"') {
            inString = true;
        } else if (c == L'[' || c == L'{') {
            deepest = std::max(deepest, ++depth);
            if (deepest > KELJSON_MAX_DEPTH) break;
        } else if ((c == L']' || c == L'}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}
} // namespace

JsonRead Read(const std::wstring& text, JsonValue& body) {
    if (NestingDepth(text) > KELJSON_MAX_DEPTH) return JsonRead::TooDeep;
    JsonValue parsed = JsonValue::parse(ToUtf8(text), nullptr, false);
    if (parsed.is_discarded()) return JsonRead::NotJson;
    body = std::move(parsed);
    return JsonRead::Ok;
}

bool Parse(const std::wstring& text, JsonValue& body) { return Read(text, body) == JsonRead::Ok; }

std::wstring Write(const JsonValue& body) {
    // Text that is not valid UTF-8 is replaced rather than refused: a body
    // always has a compact form.
    return FromUtf8(body.dump(-1, ' ', false, JsonValue::error_handler_t::replace));
}

bool IsIntegral(const JsonValue& value) {
    return value.is_number_integer() || value.is_number_unsigned() || value.is_boolean();
}

namespace {
const JsonValue* Member(const JsonValue& body, const char* key) {
    if (!body.is_object()) return nullptr;
    auto found = body.find(key);
    return found == body.end() ? nullptr : &*found;
}
} // namespace

int64_t GetInt(const JsonValue& body, const char* key) {
    const JsonValue* value = Member(body, key);
    if (!value) return 0;
    if (value->is_boolean()) return value->get<bool>() ? 1 : 0;
    if (value->is_number_unsigned()) return static_cast<int64_t>(value->get<uint64_t>());
    if (value->is_number()) return value->get<int64_t>();
    return 0;
}

bool GetBool(const JsonValue& body, const char* key) {
    const JsonValue* value = Member(body, key);
    if (!value) return false;
    if (value->is_boolean()) return value->get<bool>();
    if (value->is_number_integer() || value->is_number_unsigned()) return value->get<int64_t>() != 0;
    if (value->is_number_float()) return value->get<double>() != 0.0;
    return false;
}

std::wstring GetString(const JsonValue& body, const char* key) {
    const JsonValue* value = Member(body, key);
    return value && value->is_string() ? FromUtf8(value->get<std::string>()) : std::wstring();
}

bool HasString(const JsonValue& body, const char* key) {
    const JsonValue* value = Member(body, key);
    return value && value->is_string();
}

bool HasIntegral(const JsonValue& body, const char* key) {
    const JsonValue* value = Member(body, key);
    return value && IsIntegral(*value);
}

bool HasBool(const JsonValue& body, const char* key) {
    const JsonValue* value = Member(body, key);
    return value && value->is_boolean();
}

} // namespace KelJson
