#include "DebugLogFixture.h"
#include "ProductKeys.h"
#include "QvHandle.h"

namespace KelTest {
namespace {

std::vector<BYTE> Bytes(const void* data, size_t size) {
    const BYTE* begin = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(begin, begin + size);
}

} // namespace

RegistryValue RegistryValue::Dword(const std::wstring& name, DWORD value) {
    return {name, REG_DWORD, Bytes(&value, sizeof(value))};
}

RegistryValue RegistryValue::String(const std::wstring& name, const std::wstring& text,
                                    DWORD type) {
    return {name, type, Bytes(text.c_str(), (text.size() + 1) * sizeof(wchar_t))};
}

RegistryValue RegistryValue::MultiString(const std::wstring& name,
                                         const std::vector<std::wstring>& texts) {
    std::wstring joined;
    for (const std::wstring& text : texts) joined += text + L'\0';
    joined += L'\0';
    return {name, REG_MULTI_SZ, Bytes(joined.data(), joined.size() * sizeof(wchar_t))};
}

void WriteValues(const TestRegistryKey& key, const std::wstring& subkey,
                 const std::vector<RegistryValue>& values) {
    QvCommon::UniqueRegKey opened;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (key.Path() + L"\\" + subkey).c_str(), 0,
                                nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, opened.put(),
                                nullptr));
    for (const RegistryValue& value : values)
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegSetValueExW(opened.get(), value.name.c_str(), 0, value.type,
                                   value.data.data(), static_cast<DWORD>(value.data.size())))
            << Narrow(value.name);
}

QvCommon::Storage::Key Location(const TestRegistryKey& key) {
    return QvCommon::Storage::Key(QVSTORAGE_REGISTRY, HKEY_LOCAL_MACHINE, key.Path());
}

std::vector<RegistryValue> LogSettings(DWORD level, const std::wstring& folder) {
    return {RegistryValue::Dword(QV_VALUE_LOG_ENABLE, 1),
            RegistryValue::Dword(QV_VALUE_LOG_LEVEL, level),
            RegistryValue::Dword(QV_VALUE_LOG_PROCESS, 0),
            RegistryValue::Dword(QV_VALUE_LOG_UNIT_TYPE, 0),
            RegistryValue::String(QV_VALUE_LOG_FOLDER, folder)};
}

void DebugLogTest::Configure(DWORD level, const std::vector<RegistryValue>& extra) {
    std::vector<RegistryValue> values = LogSettings(level, m_folder.Path());
    values.insert(values.end(), extra.begin(), extra.end());
    WriteValues(m_key, QV_DEBUGLOG_INTERACTIVE, values);
}

bool DebugLogTest::Initialize(const std::wstring& libraryFolder, DWORD sessionKind) {
    return QvCommon::DebugLog::Instance().Initialize(TEST_MODULE, Location(m_key), libraryFolder,
                                                     sessionKind);
}

std::vector<std::wstring> DebugLogTest::Lines() const {
    bool complete = false;
    std::vector<std::wstring> lines = SplitLines(ReadLogs(m_folder.Path()), &complete);
    EXPECT_TRUE(complete) << "a line does not end in CR LF";
    return lines;
}

std::vector<LogLine> DebugLogTest::ParsedLines() const {
    std::vector<LogLine> parsed;
    for (const std::wstring& text : Lines()) {
        LogLine line;
        EXPECT_TRUE(ParseLogLine(text, line)) << "not a log line: " << ::testing::PrintToString(text);
        parsed.push_back(line);
    }
    return parsed;
}

bool IsQvDbgLoaded() { return ::GetModuleHandleW(QVDBG_LIBRARY_NAME) != nullptr; }

} // namespace KelTest
