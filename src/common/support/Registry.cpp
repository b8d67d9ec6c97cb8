#include "Storage.h"
#include "SecurityAttributes.h"

namespace QvCommon {
namespace Storage {
namespace {

const char* const SOURCE = "QvComn_Registry";

[[noreturn]] void Raise(DWORD code, DWORD line) { throw new Exception(code, SOURCE, line); }

void Check(LSTATUS status, DWORD line) {
    if (status != ERROR_SUCCESS) Raise(static_cast<DWORD>(status), line);
}

// The defaulting reads: a storage exception becomes the default and its code
// goes to the optional error word.
template <typename T, typename Read>
T OrDefault(Read read, const T& defaultValue, DWORD* error) {
    try {
        T value = read();
        if (error) *error = 0;
        return value;
    } catch (Exception* e) {
        if (error) *error = e->GetCode();
        delete e;
        return defaultValue;
    }
}

REGSAM ViewFlags(DWORD view) {
    switch (view) {
    case QVREG_VIEW_32: return KEY_WOW64_32KEY;
    case QVREG_VIEW_64: return KEY_WOW64_64KEY;
    default:            return 0;
    }
}

std::wstring JoinPath(const std::wstring& path, const std::wstring& subkey) {
    std::wstring full = path;
    if (full.empty() || full.back() != L'\\') full += L'\\';
    return full + subkey;
}

} // namespace

Registry::Registry(DWORD view) : m_view(view) {}

void Registry::OpenForRead(const Key& location, const std::wstring& subkey) {
    OpenWith(location, subkey, KEY_QUERY_VALUE);
}

void Registry::OpenForWrite(const Key& location, const std::wstring& subkey) {
    if (!location.GetRoot()) Raise(QVSTORAGE_ERROR_NO_LOCATION, __LINE__);
    std::wstring path = JoinPath(location.GetPath(), subkey);
    AccessControl::SecurityAttributes security(QVSEC_KIND_REGISTRY_KEY, QVSEC_INTEGRITY_NONE, false);
    HKEY key = nullptr;
    Check(::RegCreateKeyExW(location.GetRoot(), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | ViewFlags(m_view),
                            security.Get(), &key, nullptr), __LINE__);
    Attach(location.GetRoot(), key, path);
}

bool Registry::OpenForDelete(const Key& location, const std::wstring& subkey) {
    OpenWith(location, subkey, DELETE | KEY_SET_VALUE);
    return true;
}

bool Registry::OpenForEnumerate(const Key& location, const std::wstring& subkey) {
    OpenWith(location, subkey, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS);
    return true;
}

void Registry::OpenWith(const Key& location, const std::wstring& subkey, REGSAM access) {
    if (!location.GetRoot()) Raise(QVSTORAGE_ERROR_NO_LOCATION, __LINE__);
    std::wstring path = JoinPath(location.GetPath(), subkey);
    HKEY key = nullptr;
    Check(::RegOpenKeyExW(location.GetRoot(), path.c_str(), 0, access | ViewFlags(m_view), &key),
          __LINE__);
    Attach(location.GetRoot(), key, path);
}

void Registry::Attach(HKEY root, HKEY key, const std::wstring& path) {
    m_root = root;
    m_key.reset(key);
    m_path = path;
}

void Registry::Close(bool flush) {
    if (!m_key) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    if (flush) Flush();
    HKEY key = m_key.release();
    m_root = nullptr;
    m_path.clear();
    // Closed here rather than by the owner: its error is the caller's to see.
    Check(::RegCloseKey(key), __LINE__);
}

void Registry::Flush() {
    if (!m_key) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    Check(::RegFlushKey(m_key.get()), __LINE__);
}

bool Registry::ReadBinaryOr(const std::wstring& name, std::vector<BYTE>& data,
                            const std::vector<BYTE>& defaultValue, DWORD* error) {
    DWORD code = 0;
    data = OrDefault([&] {
        std::vector<BYTE> read;
        ReadBinary(name, read);
        return read;
    }, defaultValue, &code);
    if (error) *error = code;
    return code == 0;
}

bool Registry::ReadBinary(const std::wstring& name, std::vector<BYTE>& data) {
    if (!m_key) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    DWORD type = 0;
    DWORD size = 0;
    Check(::RegQueryValueExW(m_key.get(), name.c_str(), nullptr, &type, nullptr, &size), __LINE__);
    if (type != REG_BINARY) Raise(QVSTORAGE_ERROR_WRONG_TYPE, __LINE__);
    std::vector<BYTE> buffer(size);
    DWORD second = size;
    LSTATUS status = ::RegQueryValueExW(m_key.get(), name.c_str(), nullptr, &type, buffer.data(), &second);
    if (status == ERROR_MORE_DATA) Raise(QVSTORAGE_ERROR_WRONG_TYPE, __LINE__);
    Check(status, __LINE__);
    if (type != REG_BINARY || second != size) Raise(QVSTORAGE_ERROR_WRONG_TYPE, __LINE__);
    data.swap(buffer);
    return true;
}

std::wstring Registry::ReadStringOr(const std::wstring& name, const std::wstring& defaultValue,
                                    DWORD* error) {
    return OrDefault([&] { return ReadString(name, defaultValue); }, defaultValue, error);
}

// REG_SZ, REG_EXPAND_SZ (not expanded) and REG_MULTI_SZ (whole, with its inner
// terminators). The default is not used: a missing value raises.
std::wstring Registry::ReadString(const std::wstring& name, const std::wstring&) {
    if (!m_key) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    DWORD type = 0;
    DWORD size = 0;
    Check(::RegQueryValueExW(m_key.get(), name.c_str(), nullptr, &type, nullptr, &size), __LINE__);
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ)
        Raise(QVSTORAGE_ERROR_WRONG_TYPE, __LINE__);
    std::vector<BYTE> buffer;
    try {
        buffer.resize(size + sizeof(wchar_t));
    } catch (const std::bad_alloc&) {
        Raise(QVSTORAGE_ERROR_NO_BUFFER, __LINE__);
    }
    DWORD second = size;
    LSTATUS status = ::RegQueryValueExW(m_key.get(), name.c_str(), nullptr, &type, buffer.data(), &second);
    // A value that grew between the two queries is as unusable as one that shrank.
    if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && second != size))
        Raise(QVSTORAGE_ERROR_WRONG_TYPE, __LINE__);
    Check(status, __LINE__);
    std::wstring value(reinterpret_cast<const wchar_t*>(buffer.data()), size / sizeof(wchar_t));
    // The stored text normally carries its terminator; the string does not.
    if (!value.empty() && value.back() == L'\0') value.pop_back();
    return value;
}

DWORD Registry::ReadDwordOr(const std::wstring& name, DWORD defaultValue, DWORD* error) {
    return OrDefault([&] { return ReadDword(name); }, defaultValue, error);
}

DWORD Registry::ReadDword(const std::wstring& name, DWORD) {
    if (!m_key) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    LSTATUS status = ::RegQueryValueExW(m_key.get(), name.c_str(), nullptr, &type,
                                        reinterpret_cast<BYTE*>(&value), &size);
    if (status == ERROR_MORE_DATA) Raise(QVSTORAGE_ERROR_WRONG_TYPE, __LINE__);
    Check(status, __LINE__);
    if (type != REG_DWORD || size != sizeof(value)) Raise(QVSTORAGE_ERROR_WRONG_TYPE, __LINE__);
    return value;
}

bool Registry::WriteBinary(const std::wstring& name, const std::vector<BYTE>& data) {
    if (!m_key) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    Check(::RegSetValueExW(m_key.get(), name.c_str(), 0, REG_BINARY, data.data(),
                           static_cast<DWORD>(data.size())), __LINE__);
    return true;
}

void Registry::WriteString(const std::wstring& name, const std::wstring& value) {
    if (!m_key) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    Check(::RegSetValueExW(m_key.get(), name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))), __LINE__);
}

bool Registry::WriteQword(const std::wstring& name, ULONGLONG value) {
    if (!m_key) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    Check(::RegSetValueExW(m_key.get(), name.c_str(), 0, REG_QWORD,
                           reinterpret_cast<const BYTE*>(&value), sizeof(value)), __LINE__);
    return true;
}

void Registry::WriteDword(const std::wstring& name, DWORD value) {
    if (!m_key) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    Check(::RegSetValueExW(m_key.get(), name.c_str(), 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&value), sizeof(value)), __LINE__);
}

void Registry::DeleteOpenKey() {
    if (!m_key) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    Check(::RegDeleteKeyExW(m_root, m_path.c_str(), ViewFlags(m_view), 0), __LINE__);
}

void Registry::DeleteSubKey(const std::wstring& name) {
    if (!m_key) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    Check(::RegDeleteKeyExW(m_key.get(), name.c_str(), ViewFlags(m_view), 0), __LINE__);
}

void Registry::DeleteValue(const std::wstring& name) {
    if (!m_key) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    Check(::RegDeleteValueW(m_key.get(), name.c_str()), __LINE__);
}

bool Registry::EnumerateSubKeys(std::vector<std::wstring>& names) {
    if (!m_key) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    names.clear();
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        LSTATUS status = ::RegEnumKeyExW(m_key.get(), index, name, &length, nullptr, nullptr, nullptr,
                                         nullptr);
        if (status == ERROR_NO_MORE_ITEMS) return true;
        Check(status, __LINE__);
        names.emplace_back(name, length);
    }
}

bool Registry::EnumerateValues(std::vector<std::wstring>& names) {
    if (!m_key) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    names.clear();
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD length = 16384;
        LSTATUS status = ::RegEnumValueW(m_key.get(), index, name, &length, nullptr, nullptr, nullptr,
                                         nullptr);
        if (status == ERROR_NO_MORE_ITEMS) return true;
        Check(status, __LINE__);
        names.emplace_back(name, length);
    }
}

} // namespace Storage
} // namespace QvCommon
