#include "JsonBody.h"

#include <windows.h>


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
struct TooDeepBody {};
} // namespace

JsonRead Read(const std::wstring& text, JsonValue& body) {
    // The parser keeps its own stack, so depth is checked as it opens each
    // array or object: one pass, and a deep body is refused before it is built.
    const JsonValue::parser_callback_t limitDepth = [](int depth, JsonValue::parse_event_t event, JsonValue&) {
        const bool opens = event == JsonValue::parse_event_t::object_start ||
                           event == JsonValue::parse_event_t::array_start;
        if (opens && depth >= KELJSON_MAX_DEPTH) throw TooDeepBody();
        return true;
    };
    try {
        JsonValue parsed = JsonValue::parse(ToUtf8(text), limitDepth, false);
        if (parsed.is_discarded()) return JsonRead::NotJson;
        body = std::move(parsed);
        return JsonRead::Ok;
    } catch (const TooDeepBody&) {
        return JsonRead::TooDeep;
    }
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
