#pragma once
// The debug log under test, configured through a registry key of the test's
// own and writing through the real QvDbg32.dll into a fresh folder.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "DebugLog.h"
#include "LogFiles.h"
#include "QvLog.h"
#include "TestSupport.h"

namespace KelTest {

constexpr wchar_t TEST_MODULE[] = L"DebugLogTest";
constexpr wchar_t LIBRARY_FOLDER[] = L".\\";   // tests run in the binary folder

// A registry value of any type, stored exactly as given.
struct RegistryValue {
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;

    static RegistryValue Dword(const std::wstring& name, DWORD value);
    static RegistryValue String(const std::wstring& name, const std::wstring& text,
                                DWORD type = REG_SZ);
    static RegistryValue MultiString(const std::wstring& name,
                                     const std::vector<std::wstring>& texts);
};

// Creates the subkey of the test key and sets the values, in order.
void WriteValues(const TestRegistryKey& key, const std::wstring& subkey,
                 const std::vector<RegistryValue>& values);
QvCommon::Storage::Key Location(const TestRegistryKey& key);

// "Enable" = 1, "Level", "LogProcess" = 0, "LogUnitType" = 0 and "LogFolder":
// the registry reads stop at the first missing value, so the folder is only
// read when the two numbers before it are there.
std::vector<RegistryValue> LogSettings(DWORD level, const std::wstring& folder);

class DebugLogTest : public ::testing::Test {
protected:
    ~DebugLogTest() override { QvCommon::DebugLog::Instance().Uninitialize(); }

    // The interactive session subkey with LogSettings for the test's folder,
    // then the extra values (a value named again replaces the first).
    void Configure(DWORD level, const std::vector<RegistryValue>& extra = {});
    bool Initialize(const std::wstring& libraryFolder = LIBRARY_FOLDER,
                    DWORD sessionKind = QVLOG_SESSION_INTERACTIVE);
    // The lines written so far; every one must end in CR LF.
    std::vector<std::wstring> Lines() const;
    // The lines taken apart; each must have the log's format.
    std::vector<LogLine> ParsedLines() const;
    std::wstring InFolder(const std::wstring& name) const { return Join(m_folder.Path(), name); }

    TestRegistryKey m_key;
    TempFolder m_folder;
};

bool IsQvDbgLoaded();

} // namespace KelTest
