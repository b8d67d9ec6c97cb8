#include "TestRegistry.h"
#include "QvHandle.h"
#include "TestNames.h"

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

RegistryValue RegistryValue::String(const std::wstring& name, const std::wstring& text, DWORD type) {
    return {name, type, Bytes(text.c_str(), (text.size() + 1) * sizeof(wchar_t))};
}

RegistryScope::RegistryScope(const std::wstring& path, REGSAM view, HKEY root)
    : m_path(path), m_view(view), m_root(root) {}

RegistryScope::~RegistryScope() {
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
        QvCommon::UniqueRegKey key;
        if (::RegOpenKeyExW(m_root, it->key.c_str(), 0, KEY_SET_VALUE | m_view, key.put()) !=
            ERROR_SUCCESS)
            continue;
        if (it->existed)
            ::RegSetValueExW(key.get(), it->name.c_str(), 0, it->type, it->data.data(),
                             static_cast<DWORD>(it->data.size()));
        else
            ::RegDeleteValueW(key.get(), it->name.c_str());
    }
    // A key the scope created holds only what the test put there, whoever
    // wrote it, so the whole tree goes. RegDeleteTree has no view flag: the
    // parent is opened in the view.
    for (auto it = m_createdKeys.rbegin(); it != m_createdKeys.rend(); ++it) {
        const size_t split = it->rfind(L'\\');
        QvCommon::UniqueRegKey parent;
        if (split == std::wstring::npos ||
            ::RegOpenKeyExW(m_root, it->substr(0, split).c_str(), 0, KEY_ALL_ACCESS | m_view,
                            parent.put()) != ERROR_SUCCESS)
            continue;
        ::RegDeleteTreeW(parent.get(), it->substr(split + 1).c_str());
        ::RegDeleteKeyExW(parent.get(), it->substr(split + 1).c_str(), m_view, 0);
    }
}

QvCommon::Storage::Key RegistryScope::Location() const {
    return QvCommon::Storage::Key(QVSTORAGE_REGISTRY, m_root, m_path);
}

std::wstring RegistryScope::KeyPath(const std::wstring& subkey) const {
    return subkey.empty() ? m_path : m_path + L"\\" + subkey;
}

bool RegistryScope::Prepare(const std::wstring& key, const std::wstring& name, HKEY* opened) {
    for (size_t end = key.find(L'\\');; end = key.find(L'\\', end + 1)) {
        const std::wstring prefix = key.substr(0, end);
        QvCommon::UniqueRegKey probe;
        if (::RegOpenKeyExW(m_root, prefix.c_str(), 0, KEY_QUERY_VALUE | m_view, probe.put()) !=
            ERROR_SUCCESS)
            m_createdKeys.push_back(prefix);
        if (end == std::wstring::npos) break;
    }
    if (::RegCreateKeyExW(m_root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_QUERY_VALUE | KEY_SET_VALUE | m_view, nullptr, opened, nullptr) != ERROR_SUCCESS)
        return false;
    for (const Saved& saved : m_saved)
        if (saved.key == key && saved.name == name) return true;   // the first old value is the one to restore
    Saved saved{key, name, false, 0, {}};
    DWORD size = 0;
    if (::RegQueryValueExW(*opened, name.c_str(), nullptr, &saved.type, nullptr, &size) == ERROR_SUCCESS) {
        saved.data.resize(size);
        saved.existed = ::RegQueryValueExW(*opened, name.c_str(), nullptr, &saved.type, saved.data.data(),
                                           &size) == ERROR_SUCCESS;
        saved.data.resize(size);
    }
    m_saved.push_back(saved);
    return true;
}

bool RegistryScope::Set(const RegistryValue& value, const std::wstring& subkey) {
    QvCommon::UniqueRegKey key;
    return Prepare(KeyPath(subkey), value.name, key.put()) &&
           ::RegSetValueExW(key.get(), value.name.c_str(), 0, value.type, value.data.data(),
                            static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
}

bool RegistryScope::Set(const std::vector<RegistryValue>& values, const std::wstring& subkey) {
    for (const RegistryValue& value : values)
        if (!Set(value, subkey)) return false;
    return true;
}

bool RegistryScope::Remove(const std::wstring& name, const std::wstring& subkey) {
    QvCommon::UniqueRegKey key;
    if (!Prepare(KeyPath(subkey), name, key.put())) return false;
    LSTATUS status = ::RegDeleteValueW(key.get(), name.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

namespace {
constexpr wchar_t TEST_KEYS[] = L"Software\\KelConsoleTests";

// The common parent stays: the scratch keys of other tests running at the
// same time live under it.
std::wstring ScratchKey() {
    QvCommon::UniqueRegKey parent;
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, TEST_KEYS, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, nullptr,
                      parent.put(), nullptr);
    return std::wstring(TEST_KEYS) + L"\\" + UniqueName(L"key");
}
} // namespace

TestRegistryKey::TestRegistryKey() : RegistryScope(ScratchKey()) {}

} // namespace KelTest
