#pragma once
// The prefix's real registry (HKEY_LOCAL_MACHINE unless a scope names another
// root), changed for the length of a test and
// put back at the end: every value the scope set or removed gets its old
// value (or its absence) again, and every key the scope had to create goes.
// All processes of a prefix share the registry, so tests that change the
// product's own keys carry a ctest RESOURCE_LOCK.
#include <windows.h>
#include <string>
#include <vector>
#include "Storage.h"

namespace KelTest {

// A registry value of any type, stored exactly as given.
struct RegistryValue {
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;

    static RegistryValue Dword(const std::wstring& name, DWORD value);
    static RegistryValue String(const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ);
};

// The view in which a program of this build reads its settings without an
// explicit view: the 32-bit one under WOW64 (i686), the 64-bit one on x86_64.
constexpr REGSAM OWN_VIEW = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;

class RegistryScope {
public:
    // path below root; view: KEY_WOW64_64KEY or KEY_WOW64_32KEY.
    explicit RegistryScope(const std::wstring& path, REGSAM view = KEY_WOW64_64KEY, HKEY root = HKEY_LOCAL_MACHINE);
    ~RegistryScope();
    RegistryScope(const RegistryScope&) = delete;
    RegistryScope& operator=(const RegistryScope&) = delete;

    const std::wstring& Path() const { return m_path; }
    // The scope's key as the product's storage names it.
    QvCommon::Storage::Key Location() const;

    // subkey: below Path(), or empty for Path() itself. False when the
    // registry refused; the test should fail then.
    bool Set(const RegistryValue& value, const std::wstring& subkey = std::wstring());
    bool Set(const std::vector<RegistryValue>& values, const std::wstring& subkey = std::wstring());
    bool SetDword(const std::wstring& name, DWORD value, const std::wstring& subkey = std::wstring()) {
        return Set(RegistryValue::Dword(name, value), subkey);
    }
    bool SetString(const std::wstring& name, const std::wstring& text, const std::wstring& subkey = std::wstring(),
                   DWORD type = REG_SZ) {
        return Set(RegistryValue::String(name, text, type), subkey);
    }
    // Makes sure the value is absent while the scope lives.
    bool Remove(const std::wstring& name, const std::wstring& subkey = std::wstring());

private:
    struct Saved {
        std::wstring key;
        std::wstring name;
        bool existed;
        DWORD type;
        std::vector<BYTE> data;
    };
    std::wstring KeyPath(const std::wstring& subkey) const;
    // Opens (creating what is missing, and remembering it) and saves the old value once.
    bool Prepare(const std::wstring& key, const std::wstring& name, HKEY* opened);

    std::wstring m_path;
    REGSAM m_view;
    HKEY m_root;
    std::vector<Saved> m_saved;
    std::vector<std::wstring> m_createdKeys;
};

// A scratch key of the test's own, HKLM\Software\KelConsoleTests\<unique>
// in the 64-bit view (the one the product's settings are read in on both
// architectures): everything below it goes at the end.
class TestRegistryKey : public RegistryScope {
public:
    TestRegistryKey();
};

} // namespace KelTest
