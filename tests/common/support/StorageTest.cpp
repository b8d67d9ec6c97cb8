#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ProductKeys.h"
#include "Storage.h"
#include "TestSupport.h"

using KelTest::RegistryScope;
using QvCommon::Storage::Exception;
using QvCommon::Storage::IniFile;
using QvCommon::Storage::Key;
using QvCommon::Storage::Registry;

namespace {

constexpr DWORD WORKING_SET_DEFAULT = 350;
constexpr DWORD ABSENT = 0xFFFFFFFF;   // a row's type: no value at all

std::vector<BYTE> Raw(std::initializer_list<BYTE> bytes) { return std::vector<BYTE>(bytes); }

// The stored form of a text, with its terminator or without.
std::vector<BYTE> Bytes(const std::wstring& text, bool terminated = true) {
    std::vector<BYTE> bytes = KelTest::RegistryValue::String(L"", text).data;
    if (!terminated) bytes.resize(bytes.size() - sizeof(wchar_t));
    return bytes;
}

Key ProductKey() { return Key(QVSTORAGE_REGISTRY, HKEY_LOCAL_MACHINE, QV_PRODUCT_KEY); }

// Runs an operation that must throw a storage exception; gives its code and
// source, or fails the test.
struct Thrown { DWORD code = 0; std::string source; };
Thrown Catch(const std::function<void()>& operation) {
    Thrown thrown;
    try {
        operation();
        ADD_FAILURE() << "no storage exception";
    } catch (Exception* e) {
        thrown.code = e->GetCode();
        thrown.source = e->GetFile();
        delete e;
    }
    return thrown;
}

} // namespace

// "WorkingSetMB" is read in the process's own view: the redirected 32-bit
// view (Wow6432Node) for a 32-bit process on 64-bit Windows, the 64-bit view
// for a 64-bit one. Wine keeps the two views apart as Windows does. The
// product strings' own view is checked with decoys by the folder tests.
TEST(RegistryViews, EachReadUsesItsView) {
    RegistryScope product64(QV_PRODUCT_KEY), product32(QV_PRODUCT_KEY, KEY_WOW64_32KEY);
    ASSERT_TRUE(product64.SetString(QV_VALUE_PRODUCT_PATH, L"C:\\Quorvane64\\") &&
                product64.SetDword(QV_VALUE_WORKING_SET_MB, 640));
    ASSERT_TRUE(product32.SetString(QV_VALUE_PRODUCT_PATH, L"C:\\Quorvane32\\") &&
                product32.SetDword(QV_VALUE_WORKING_SET_MB, 320));
    const bool own64 = KelTest::OWN_VIEW == KEY_WOW64_64KEY;
    struct Case { const char* what; DWORD view; DWORD workingSet; const wchar_t* productPath; } cases[] = {
        {"default view", QVREG_VIEW_DEFAULT, own64 ? 640u : 320u, own64 ? L"C:\\Quorvane64\\" : L"C:\\Quorvane32\\"},
        {"32-bit view", QVREG_VIEW_32, 320, L"C:\\Quorvane32\\"},
        {"64-bit view", QVREG_VIEW_64, 640, L"C:\\Quorvane64\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.workingSet, ReadRegDword(QV_PRODUCT_KEY, QV_VALUE_WORKING_SET_MB, WORKING_SET_DEFAULT, c.view));
        EXPECT_EQ(c.productPath,
                  ReadRegString(HKEY_LOCAL_MACHINE, QV_PRODUCT_KEY, QV_VALUE_PRODUCT_PATH, L"none", c.view));
    }
}

// What the read functions make of each stored type: the value, or the default
// with the storage code. A missing value and a missing key give code 2.
TEST(ReadFunctions, StoredTypesAndDefaults) {
    const std::wstring noSuchKey = QV_PRODUCT_KEY L"\\NoSuchKey";
    struct DwordCase { const char* what; DWORD type; std::vector<BYTE> data; DWORD expected; std::wstring key = QV_PRODUCT_KEY; };
    const DwordCase dwordCases[] = {
        {"REG_SZ \"500\" counts as missing", REG_SZ, Bytes(L"500"), 350},
        {"REG_DWORD of eight bytes", REG_DWORD, Raw({0xF4, 0x01, 0, 0, 0, 0, 0, 0}), 350},
        {"REG_DWORD of two bytes", REG_DWORD, Raw({0xF4, 0x01}), 350},
        {"missing value", ABSENT, {}, 350},
        {"missing key", ABSENT, {}, 350, noSuchKey},
    };
    for (const DwordCase& c : dwordCases) {
        SCOPED_TRACE(c.what);
        RegistryScope ownView(QV_PRODUCT_KEY, KelTest::OWN_VIEW);
        ASSERT_TRUE(c.type == ABSENT ? ownView.Remove(QV_VALUE_WORKING_SET_MB)
                                     : ownView.Set({QV_VALUE_WORKING_SET_MB, c.type, c.data}));
        EXPECT_EQ(c.expected, ReadRegDword(c.key.c_str(), QV_VALUE_WORKING_SET_MB, WORKING_SET_DEFAULT, QVREG_VIEW_DEFAULT));
    }

    struct StringCase { const char* what; DWORD type; std::vector<BYTE> data; std::wstring expected; DWORD error; };
    const std::wstring multi(L"first\0second\0", 13);
    const StringCase stringCases[] = {
        {"REG_SZ without terminator", REG_SZ, Bytes(L"DE-DE", false), L"DE-DE", 0},
        {"REG_EXPAND_SZ stays unexpanded", REG_EXPAND_SZ, Bytes(L"%WINDIR%\\x"), L"%WINDIR%\\x", 0},
        {"REG_MULTI_SZ keeps its inner terminators", REG_MULTI_SZ, Bytes(multi), multi, 0},
        {"REG_DWORD", REG_DWORD, Raw({1, 0, 0, 0}), L"default", ERROR_INVALID_DATA},
        {"missing value", ABSENT, {}, L"default", ERROR_FILE_NOT_FOUND},
    };
    for (const StringCase& c : stringCases) {
        SCOPED_TRACE(c.what);
        RegistryScope product(QV_PRODUCT_KEY);
        ASSERT_TRUE(c.type == ABSENT ? product.Remove(QV_VALUE_LANGUAGE) : product.Set({QV_VALUE_LANGUAGE, c.type, c.data}));
        DWORD error = 0xDEAD;
        EXPECT_EQ(c.expected, ReadRegString(HKEY_LOCAL_MACHINE, QV_PRODUCT_KEY, QV_VALUE_LANGUAGE, L"default",
                                            QVREG_VIEW_64, &error));
        EXPECT_EQ(c.error, error);
    }
}

TEST(StorageException, CodesAndSources) {
    RegistryScope product(QV_PRODUCT_KEY);
    ASSERT_TRUE(product.SetString(QV_VALUE_LANGUAGE, L"FR-FR") && product.Remove(QV_VALUE_INSTALL_CULTURE));
    // open: call runs on an object opened on the product key first.
    const struct Case { const char* what; bool open; std::function<void(Registry&)> call; DWORD code; } cases[] = {
        {"open of a missing key", false, [](Registry& r) { r.OpenForRead(ProductKey(), L"NoSuchKey"); },
         ERROR_FILE_NOT_FOUND},
        {"missing value: the default argument is not used", true,
         [](Registry& r) { r.ReadString(QV_VALUE_INSTALL_CULTURE, L"default"); }, ERROR_FILE_NOT_FOUND},
        {"location without a root key", false,
         [](Registry& r) { r.OpenForRead(Key(QVSTORAGE_REGISTRY, nullptr, QV_PRODUCT_KEY), L""); }, ERROR_BAD_ARGUMENTS},
        {"read before open", false, [](Registry& r) { r.ReadString(QV_VALUE_LANGUAGE, L""); }, ERROR_INVALID_HANDLE},
        {"a failed open leaves the object closed", false, [](Registry& r) {
             Catch([&r] { r.OpenForRead(ProductKey(), L"NoSuchKey"); }); r.ReadString(QV_VALUE_LANGUAGE, L""); },
         ERROR_INVALID_HANDLE},
        {"DWORD read of REG_SZ", true, [](Registry& r) { r.ReadDword(QV_VALUE_LANGUAGE); }, ERROR_INVALID_DATA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Thrown thrown = Catch([&c] {
            Registry r(QVREG_VIEW_64);
            if (c.open) r.OpenForRead(ProductKey(), L"");
            c.call(r);
        });
        EXPECT_EQ(c.code, thrown.code);
        EXPECT_EQ("QvComn_Registry", thrown.source);
    }
    KelTest::TempFolder folder;
    const Thrown ini = Catch([&folder] { IniFile().OpenForRead(Key(folder.Path(), L"settings.ini"), L""); });
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_ARGUMENTS), ini.code);
    EXPECT_EQ("QvComn_IniFile", ini.source);
}
