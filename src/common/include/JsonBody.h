#pragma once
// Provider message bodies are JSON. The system's text is UTF-16; the JSON
// library works in UTF-8, so text is converted at this boundary. The rules
// every reader relies on live here: a missing key reads as 0, false or the
// empty string; "integral" means an integer, unsigned or boolean value; the
// compact form has no spaces and no line feed, keys in sorted order.
#include <cstdint>
#include <string>
#include <nlohmann/json.hpp>

using JsonValue = nlohmann::json;

// Bodies come from other processes, and copying or writing a value recurses
// once per level of nesting: deeper ones are refused before they are built.
constexpr int KELJSON_MAX_DEPTH = 256;

namespace KelJson {

enum class JsonRead { Ok, NotJson, TooDeep };
// The body is unchanged unless the text is one JSON document nested at most
// KELJSON_MAX_DEPTH deep.
JsonRead Read(const std::wstring& text, JsonValue& body);
// True when Read gave Ok.
bool Parse(const std::wstring& text, JsonValue& body);
// The compact form.
std::wstring Write(const JsonValue& body);

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

bool IsIntegral(const JsonValue& value);
// body[key] read as the JSON library's conversions do; a missing key or a
// value of another kind gives 0, false or "".
int64_t GetInt(const JsonValue& body, const char* key);
bool GetBool(const JsonValue& body, const char* key);
std::wstring GetString(const JsonValue& body, const char* key);
// True when body[key] holds a string; an integral value; a boolean.
bool HasString(const JsonValue& body, const char* key);
bool HasIntegral(const JsonValue& body, const char* key);
bool HasBool(const JsonValue& body, const char* key);

} // namespace KelJson
