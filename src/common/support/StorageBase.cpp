#include "Storage.h"
#include "QvHandle.h"

namespace QvCommon {
namespace Storage {

// The base reports failure for the optional operations and hands back the
// caller's default for the defaulting reads.
bool Base::OpenForDelete(const Key&, const std::wstring&) { return false; }
bool Base::OpenForEnumerate(const Key&, const std::wstring&) { return false; }
bool Base::ReadBinaryOr(const std::wstring&, std::vector<BYTE>& data,
                        const std::vector<BYTE>& defaultValue, DWORD*) {
    data = defaultValue;
    return false;
}
bool Base::ReadBinary(const std::wstring&, std::vector<BYTE>&) { return false; }
std::wstring Base::ReadStringOr(const std::wstring&, const std::wstring& defaultValue, DWORD*) {
    return defaultValue;
}
DWORD Base::ReadDwordOr(const std::wstring&, DWORD defaultValue, DWORD*) { return defaultValue; }
bool Base::WriteBinary(const std::wstring&, const std::vector<BYTE>&) { return false; }
bool Base::WriteQword(const std::wstring&, ULONGLONG) { return false; }
bool Base::EnumerateSubKeys(std::vector<std::wstring>&) { return false; }
bool Base::EnumerateValues(std::vector<std::wstring>&) { return false; }

namespace File {

bool IsExisted(const std::wstring& path, DWORD* error) {
    if (path.empty()) {
        if (error) *error = QVSTORAGE_ERROR_NO_LOCATION;
        return false;
    }
    WIN32_FIND_DATAW data;
    UniqueFind found(::FindFirstFileW(path.c_str(), &data));
    if (!found) {
        if (error) *error = ::GetLastError();
        return false;
    }
    if (error) *error = 0;
    return true;
}

} // namespace File
} // namespace Storage
} // namespace QvCommon
