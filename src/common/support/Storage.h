#pragma once
// Settings storage: an abstract interface with a registry and an INI-file
// implementation. Every failure is reported by throwing a
// QvCommon::Storage::Exception by pointer; the catcher deletes it.
#include <windows.h>
#include <string>
#include <vector>
#include "QvException.h"
#include "QvHandle.h"

// Storage kinds of a location.
constexpr DWORD QVSTORAGE_REGISTRY = 0;
constexpr DWORD QVSTORAGE_INI_FILE = 1;
constexpr DWORD QVSTORAGE_REGISTRY_ALT = 4;

// Registry views.
constexpr DWORD QVREG_VIEW_DEFAULT = 0;
constexpr DWORD QVREG_VIEW_32 = 1;   // adds KEY_WOW64_32KEY
constexpr DWORD QVREG_VIEW_64 = 2;   // adds KEY_WOW64_64KEY

// The library's own error codes (others are the Windows function's own).
constexpr DWORD QVSTORAGE_ERROR_NOT_OPEN = ERROR_INVALID_HANDLE;     // 6
constexpr DWORD QVSTORAGE_ERROR_NO_BUFFER = ERROR_INVALID_HANDLE;    // 6, allocation failed
constexpr DWORD QVSTORAGE_ERROR_WRONG_TYPE = ERROR_INVALID_DATA;     // 13
constexpr DWORD QVSTORAGE_ERROR_NO_LOCATION = ERROR_BAD_ARGUMENTS;   // 160

namespace QvCommon {
namespace Storage {

class Exception : public QvCommon::Exception::Base {
public:
    using Base::Base;
};

// Where a setting lives: storage kind, root and path. For the registry the
// root is an HKEY and the path the key below it; for an INI file the root is
// the file's folder and the path its name.
class Key {
public:
    Key() = default;
    Key(DWORD kind, HKEY root, const std::wstring& path)
        : m_kind(kind), m_root(root), m_path(path) {}
    Key(const std::wstring& folder, const std::wstring& fileName)
        : m_kind(QVSTORAGE_INI_FILE), m_root(nullptr), m_folder(folder), m_path(fileName) {}
    virtual ~Key() = default;

    DWORD GetKind() const { return m_kind; }
    HKEY GetRoot() const { return m_root; }
    const std::wstring& GetFolder() const { return m_folder; }
    const std::wstring& GetPath() const { return m_path; }

private:
    DWORD m_kind = QVSTORAGE_REGISTRY;
    HKEY m_root = HKEY_LOCAL_MACHINE;
    std::wstring m_folder;
    std::wstring m_path;
};

// The 22 operations, in slot order.
class Base {
public:
    virtual ~Base() = default;                                                       // 0
    virtual void OpenForRead(const Key& location, const std::wstring& subkey) = 0;   // 1
    virtual void OpenForWrite(const Key& location, const std::wstring& subkey) = 0;  // 2
    virtual bool OpenForDelete(const Key& location, const std::wstring& subkey);    // 3
    virtual bool OpenForEnumerate(const Key& location, const std::wstring& subkey); // 4
    virtual void Close(bool flush) = 0;                                              // 5
    virtual void Flush() = 0;                                                        // 6
    virtual bool ReadBinaryOr(const std::wstring& name, std::vector<BYTE>& data,
                              const std::vector<BYTE>& defaultValue, DWORD* error);  // 7
    virtual bool ReadBinary(const std::wstring& name, std::vector<BYTE>& data);     // 8
    virtual std::wstring ReadStringOr(const std::wstring& name,
                                      const std::wstring& defaultValue, DWORD* error); // 9
    virtual std::wstring ReadString(const std::wstring& name,
                                    const std::wstring& defaultValue) = 0;          // 10
    virtual DWORD ReadDwordOr(const std::wstring& name, DWORD defaultValue,
                              DWORD* error);                                         // 11
    virtual DWORD ReadDword(const std::wstring& name, DWORD defaultValue = 0) = 0;  // 12
    virtual bool WriteBinary(const std::wstring& name, const std::vector<BYTE>& data); // 13
    virtual void WriteString(const std::wstring& name, const std::wstring& value) = 0; // 14
    virtual bool WriteQword(const std::wstring& name, ULONGLONG value);             // 15
    virtual void WriteDword(const std::wstring& name, DWORD value) = 0;             // 16
    virtual void DeleteOpenKey() = 0;                                                // 17
    virtual void DeleteSubKey(const std::wstring& name) = 0;                        // 18
    virtual void DeleteValue(const std::wstring& name) = 0;                         // 19
    virtual bool EnumerateSubKeys(std::vector<std::wstring>& names);                // 20
    virtual bool EnumerateValues(std::vector<std::wstring>& names);                 // 21
};

class Registry : public Base {
public:
    explicit Registry(DWORD view = QVREG_VIEW_DEFAULT);
    // Closes an open key; a close error is swallowed.
    ~Registry() override = default;

    void OpenForRead(const Key& location, const std::wstring& subkey) override;
    void OpenForWrite(const Key& location, const std::wstring& subkey) override;
    bool OpenForDelete(const Key& location, const std::wstring& subkey) override;
    bool OpenForEnumerate(const Key& location, const std::wstring& subkey) override;
    void Close(bool flush) override;
    void Flush() override;
    bool ReadBinaryOr(const std::wstring& name, std::vector<BYTE>& data,
                      const std::vector<BYTE>& defaultValue, DWORD* error) override;
    bool ReadBinary(const std::wstring& name, std::vector<BYTE>& data) override;
    std::wstring ReadStringOr(const std::wstring& name, const std::wstring& defaultValue,
                              DWORD* error) override;
    std::wstring ReadString(const std::wstring& name, const std::wstring& defaultValue) override;
    DWORD ReadDwordOr(const std::wstring& name, DWORD defaultValue, DWORD* error) override;
    DWORD ReadDword(const std::wstring& name, DWORD defaultValue = 0) override;
    bool WriteBinary(const std::wstring& name, const std::vector<BYTE>& data) override;
    void WriteString(const std::wstring& name, const std::wstring& value) override;
    bool WriteQword(const std::wstring& name, ULONGLONG value) override;
    void WriteDword(const std::wstring& name, DWORD value) override;
    void DeleteOpenKey() override;
    void DeleteSubKey(const std::wstring& name) override;
    void DeleteValue(const std::wstring& name) override;
    bool EnumerateSubKeys(std::vector<std::wstring>& names) override;
    bool EnumerateValues(std::vector<std::wstring>& names) override;

    DWORD GetView() const { return m_view; }
    const std::wstring& GetFullPath() const { return m_path; }

private:
    void OpenWith(const Key& location, const std::wstring& subkey, REGSAM access);
    void Attach(HKEY root, HKEY key, const std::wstring& path);

    HKEY m_root = nullptr;
    QvCommon::UniqueRegKey m_key;
    std::wstring m_path;
    DWORD m_view;
};

class IniFile : public Base {
public:
    IniFile() = default;
    ~IniFile() override = default;

    void OpenForRead(const Key& location, const std::wstring& subkey) override;
    void OpenForWrite(const Key& location, const std::wstring& subkey) override;
    void Close(bool flush) override;
    void Flush() override;
    std::wstring ReadString(const std::wstring& name, const std::wstring& defaultValue) override;
    DWORD ReadDword(const std::wstring& name, DWORD defaultValue = 0) override;
    void WriteString(const std::wstring& name, const std::wstring& value) override;
    void WriteDword(const std::wstring& name, DWORD value) override;
    void DeleteOpenKey() override;
    void DeleteSubKey(const std::wstring& name) override;
    void DeleteValue(const std::wstring& name) override;

    const std::wstring& GetFilePath() const { return m_file; }
    const std::wstring& GetSection() const { return m_section; }

private:
    std::wstring m_file;
    std::wstring m_section;
};

namespace File {
// True when FindFirstFileW finds the path (wildcards match too); an empty
// path gives error 160.
bool IsExisted(const std::wstring& path, DWORD* error = nullptr);
} // namespace File

} // namespace Storage
} // namespace QvCommon

// The read functions: the only storage entry points of the agent's own code.
// Each opens read-only, reads, closes and returns the default on any failure.
DWORD ReadRegDword(const std::wstring& path, const std::wstring& name, DWORD defaultValue,
                   DWORD view);
std::wstring ReadRegString(HKEY root, const std::wstring& path, const std::wstring& name,
                           const std::wstring& defaultValue, DWORD view, DWORD* error = nullptr);

namespace Frwk {
namespace Utility {
// A string of the product key, in the 64-bit view under WOW64.
std::wstring GetStrFromHKLM_NORDAL(const std::wstring& name, const std::wstring& defaultValue);
// The view that settings of the product key are read in: 64-bit under WOW64.
DWORD ProductRegistryView();
} // namespace Utility
} // namespace Frwk
