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

// A 32-bit process on 64-bit Windows reads the product strings from the 64-bit
// view and, through ReadRegDword's default view, "WorkingSetMB" from the
// redirected 32-bit view (Wow6432Node). Wine keeps the two views apart as
// Windows does.
TEST(RegistryViews, EachReadUsesItsView) {
    // setIn32: both views hold values, or only the 64-bit one.
    struct Case { const char* what; DWORD view; bool setIn32; DWORD workingSet; const wchar_t* productPath; } cases[] = {
        {"default view", QVREG_VIEW_DEFAULT, true, 320, L"C:\\Quorvane32\\"},
        {"32-bit view", QVREG_VIEW_32, true, 320, L"C:\\Quorvane32\\"},
        {"64-bit view", QVREG_VIEW_64, true, 640, L"C:\\Quorvane64\\"},
        {"default view, value only in the 64-bit one", QVREG_VIEW_DEFAULT, false, WORKING_SET_DEFAULT, L"none"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RegistryScope product64(QV_PRODUCT_KEY), product32(QV_PRODUCT_KEY, KEY_WOW64_32KEY);
        ASSERT_TRUE(product64.SetString(QV_VALUE_PRODUCT_PATH, L"C:\\Quorvane64\\"));
        ASSERT_TRUE(product64.SetDword(QV_VALUE_WORKING_SET_MB, 640));
        if (c.setIn32) {
            ASSERT_TRUE(product32.SetString(QV_VALUE_PRODUCT_PATH, L"C:\\Quorvane32\\"));
            ASSERT_TRUE(product32.SetDword(QV_VALUE_WORKING_SET_MB, 320));
        } else {
            ASSERT_TRUE(product32.Remove(QV_VALUE_PRODUCT_PATH) && product32.Remove(QV_VALUE_WORKING_SET_MB));
        }
        EXPECT_EQ(QVREG_VIEW_64, Frwk::Utility::ProductRegistryView());
        EXPECT_EQ(L"C:\\Quorvane64\\", Frwk::Utility::GetStrFromHKLM_NORDAL(QV_VALUE_PRODUCT_PATH, L"none"));
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
        {"REG_DWORD", REG_DWORD, Raw({0xF4, 0x01, 0, 0}), 500},
        {"REG_SZ \"500\" counts as missing", REG_SZ, Bytes(L"500"), 350},
        {"REG_BINARY of four bytes", REG_BINARY, Raw({0xF4, 0x01, 0, 0}), 350},
        {"REG_QWORD", REG_QWORD, Raw({0xF4, 0x01, 0, 0, 0, 0, 0, 0}), 350},
        {"REG_DWORD of eight bytes", REG_DWORD, Raw({0xF4, 0x01, 0, 0, 0, 0, 0, 0}), 350},
        {"REG_DWORD of two bytes", REG_DWORD, Raw({0xF4, 0x01}), 350},
        {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN, Raw({0, 0, 0x01, 0xF4}), 350},
        {"missing value", ABSENT, {}, 350},
        {"missing key", ABSENT, {}, 350, noSuchKey},
    };
    for (const DwordCase& c : dwordCases) {
        SCOPED_TRACE(c.what);
        RegistryScope product32(QV_PRODUCT_KEY, KEY_WOW64_32KEY);
        ASSERT_TRUE(c.type == ABSENT ? product32.Remove(QV_VALUE_WORKING_SET_MB)
                                     : product32.Set({QV_VALUE_WORKING_SET_MB, c.type, c.data}));
        EXPECT_EQ(c.expected, ReadRegDword(c.key.c_str(), QV_VALUE_WORKING_SET_MB, WORKING_SET_DEFAULT, QVREG_VIEW_DEFAULT));
    }

    struct StringCase {
        const char* what; DWORD type; std::vector<BYTE> data; std::wstring expected; DWORD error;
        std::wstring key = QV_PRODUCT_KEY;
    };
    const std::wstring multi(L"first\0second\0", 13);
    const StringCase stringCases[] = {
        {"REG_SZ", REG_SZ, Bytes(L"FR-FR"), L"FR-FR", 0},
        {"REG_SZ empty", REG_SZ, Bytes(L""), L"", 0},
        {"REG_SZ without terminator", REG_SZ, Bytes(L"DE-DE", false), L"DE-DE", 0},
        {"REG_EXPAND_SZ stays unexpanded", REG_EXPAND_SZ, Bytes(L"%WINDIR%\\x"), L"%WINDIR%\\x", 0},
        {"REG_MULTI_SZ keeps its inner terminators", REG_MULTI_SZ, Bytes(multi), multi, 0},
        {"REG_DWORD", REG_DWORD, Raw({1, 0, 0, 0}), L"default", ERROR_INVALID_DATA},
        {"REG_BINARY", REG_BINARY, Raw({'E', 0, 'N', 0, 0, 0}), L"default", ERROR_INVALID_DATA},
        {"missing value", ABSENT, {}, L"default", ERROR_FILE_NOT_FOUND},
        {"missing key", ABSENT, {}, L"default", ERROR_FILE_NOT_FOUND, noSuchKey},
    };
    for (const StringCase& c : stringCases) {
        SCOPED_TRACE(c.what);
        RegistryScope product(QV_PRODUCT_KEY);
        ASSERT_TRUE(c.type == ABSENT ? product.Remove(QV_VALUE_LANGUAGE) : product.Set({QV_VALUE_LANGUAGE, c.type, c.data}));
        DWORD error = 0xDEAD;
        std::wstring read = ReadRegString(HKEY_LOCAL_MACHINE, c.key.c_str(), QV_VALUE_LANGUAGE,
                                          L"default", QVREG_VIEW_64, &error);
        EXPECT_EQ(c.expected, read);
        EXPECT_EQ(c.error, error);
    }
}

TEST(StorageException, CodesAndSources) {
    RegistryScope product(QV_PRODUCT_KEY);
    ASSERT_TRUE(product.SetString(QV_VALUE_LANGUAGE, L"FR-FR") && product.SetDword(QV_VALUE_WORKING_SET_MB, 500) &&
                product.Remove(QV_VALUE_INSTALL_CULTURE));
    KelTest::TempFolder folder;

    const std::string registry = "QvComn_Registry";
    const std::string ini = "QvComn_IniFile";
    // The registry operations run on an object opened on the product key
    // first, unless they say otherwise.
    using Operation = std::function<void(Registry&)>;
    struct Case { const char* what; bool open; Operation registryOperation; std::function<void()> iniOperation; DWORD code; };
    const Case cases[] = {
        {"open of a missing key", false, [](Registry& r) { r.OpenForRead(ProductKey(), L"NoSuchKey"); }, {},
         ERROR_FILE_NOT_FOUND},
        {"missing value: the default argument is not used", true,
         [](Registry& r) { r.ReadString(QV_VALUE_INSTALL_CULTURE, L"default"); }, {}, ERROR_FILE_NOT_FOUND},
        {"missing DWORD", true, [](Registry& r) { r.ReadDword(QV_VALUE_INSTALL_CULTURE); }, {}, ERROR_FILE_NOT_FOUND},
        {"location without a root key", false,
         [](Registry& r) { r.OpenForRead(Key(QVSTORAGE_REGISTRY, nullptr, QV_PRODUCT_KEY), L""); }, {},
         ERROR_BAD_ARGUMENTS},
        {"read before open", false, [](Registry& r) { r.ReadString(QV_VALUE_LANGUAGE, L""); }, {}, ERROR_INVALID_HANDLE},
        {"close before open", false, [](Registry& r) { r.Close(false); }, {}, ERROR_INVALID_HANDLE},
        {"a failed open leaves the object closed", false, [](Registry& r) {
             Catch([&r] { r.OpenForRead(ProductKey(), L"NoSuchKey"); }); r.ReadString(QV_VALUE_LANGUAGE, L""); },
         {}, ERROR_INVALID_HANDLE},
        {"a closed object reads no more", true, [](Registry& r) { r.Close(false); r.ReadString(QV_VALUE_LANGUAGE, L""); },
         {}, ERROR_INVALID_HANDLE},
        {"DWORD read of REG_SZ", true, [](Registry& r) { r.ReadDword(QV_VALUE_LANGUAGE); }, {}, ERROR_INVALID_DATA},
        {"string read of REG_DWORD", true, [](Registry& r) { r.ReadString(QV_VALUE_WORKING_SET_MB, L""); }, {},
         ERROR_INVALID_DATA},
        {"binary read of REG_SZ", true, [](Registry& r) { std::vector<BYTE> data; r.ReadBinary(QV_VALUE_LANGUAGE, data); },
         {}, ERROR_INVALID_DATA},
        {"INI without a section", false, {},
         [&folder] { IniFile().OpenForRead(Key(folder.Path(), L"settings.ini"), L""); }, ERROR_BAD_ARGUMENTS},
        {"INI read before open", false, {}, [] { IniFile().ReadString(L"Name", L""); }, ERROR_INVALID_HANDLE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Thrown thrown = Catch([&c] {
            if (c.iniOperation) return c.iniOperation();
            Registry r(QVREG_VIEW_64);
            if (c.open) r.OpenForRead(ProductKey(), L"");
            c.registryOperation(r);
        });
        EXPECT_EQ(c.code, thrown.code);
        EXPECT_EQ(c.iniOperation ? ini : registry, thrown.source);
    }
}

// The location's path gets exactly one "\" before the subkey, with or without
// one of its own; an empty subkey opens the location itself.
TEST(RegistryStorage, OpensLocationJoinedWithSubkey) {
    RegistryScope debugLog(QV_DEBUGLOG_KEY);
    ASSERT_TRUE(debugLog.SetDword(QV_VALUE_DUMP_TYPE, 1));
    struct Case { const wchar_t* path; const wchar_t* subkey; const wchar_t* fullPath; };
    const Case cases[] = {
        {QV_PRODUCT_KEY L"\\1", L"DebugLog", QV_DEBUGLOG_KEY},
        {QV_PRODUCT_KEY L"\\1\\", L"DebugLog", QV_DEBUGLOG_KEY},
        {QV_DEBUGLOG_KEY, L"", QV_DEBUGLOG_KEY L"\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.fullPath);
        Registry r(QVREG_VIEW_64);
        r.OpenForRead(Key(QVSTORAGE_REGISTRY, HKEY_LOCAL_MACHINE, c.path), c.subkey);
        EXPECT_EQ(c.fullPath, r.GetFullPath());
        EXPECT_EQ(1u, r.ReadDword(QV_VALUE_DUMP_TYPE));
        r.Close(false);
        EXPECT_EQ(L"", r.GetFullPath());
    }
}

TEST(IniFileStorage, ReadsWithDefaults) {
    KelTest::TempFolder folder;
    const std::string longText(600, 'x');
    ASSERT_TRUE(KelTest::WriteText(folder.Path() + L"settings.ini",
                                   "[Log]\r\nEnable=1\r\nLevel=273\r\nLogPrefix=Quorvane\r\n"
                                   "Empty=\r\nLong=" + longText + "\r\nWord=abc\r\n[Other]\r\nLogFile=x\r\n"));
    // A string is read when expectedString is not "-", else a number.
    struct Case { const char* what; std::wstring folder; const wchar_t* file; const wchar_t* name;
                  std::wstring stringDefault, expectedString; DWORD dwordDefault, expectedDword; };
    const std::wstring& f = folder.Path();
    const std::wstring withoutSlash = f.substr(0, f.size() - 1);
    const Case cases[] = {
        {"string", withoutSlash, L"settings.ini", L"LogPrefix", L"NORDAL", L"Quorvane", 0, 0},
        {"string, folder ending in \\", f, L"settings.ini", L"LogPrefix", L"NORDAL", L"Quorvane", 0, 0},
        {"missing string", f, L"settings.ini", L"LogExtension", L"log", L"log", 0, 0},
        {"other section's value", f, L"settings.ini", L"LogFile", L"none", L"none", 0, 0},
        {"empty string stays empty", f, L"settings.ini", L"Empty", L"dflt", L"", 0, 0},
        {"text longer than one buffer", f, L"settings.ini", L"Long", L"", KelTest::Widen(longText), 0, 0},
        {"number", f, L"settings.ini", L"Level", L"", L"-", 0x100, 273},
        {"missing number", f, L"settings.ini", L"Robust", L"", L"-", 0x100, 0x100},
        {"text where a number is wanted", f, L"settings.ini", L"Word", L"", L"-", 5, 0},
        {"missing file, string", f, L"absent.ini", L"LogPrefix", L"NORDAL", L"NORDAL", 0, 0},
        {"missing file, number", f, L"absent.ini", L"Level", L"", L"-", 0x100, 0x100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        IniFile file;
        file.OpenForRead(Key(c.folder, c.file), L"Log");
        EXPECT_EQ(f + c.file, file.GetFilePath());
        if (c.expectedString != L"-")
            EXPECT_EQ(c.expectedString, file.ReadString(c.name, c.stringDefault));
        else
            EXPECT_EQ(c.expectedDword, file.ReadDword(c.name, c.dwordDefault));
        file.Close(false);
    }
    EXPECT_FALSE(QvCommon::Storage::File::IsExisted(f + L"absent.ini")) << "reading made no file";
}

TEST(FileExistence, PathsAndPatterns) {
    KelTest::TempFolder folder;
    ASSERT_TRUE(KelTest::WriteText(folder.Path() + L"present.txt", "x"));
    ASSERT_TRUE(::CreateDirectoryW((folder.Path() + L"sub").c_str(), nullptr));
    struct Case { const char* what; std::wstring path; bool exists; DWORD error; };
    const Case cases[] = {
        {"empty path", L"", false, ERROR_BAD_ARGUMENTS},
        {"file", folder.Path() + L"present.txt", true, 0},
        {"folder", folder.Path() + L"sub", true, 0},
        {"missing file", folder.Path() + L"absent.txt", false, ERROR_FILE_NOT_FOUND},
        {"missing parent folder", folder.Path() + L"absent\\present.txt", false, ERROR_PATH_NOT_FOUND},
        {"pattern matching a file", folder.Path() + L"*.txt", true, 0},
        {"pattern matching one character", folder.Path() + L"presen?.txt", true, 0},
        {"pattern matching nothing", folder.Path() + L"*.ini", false, ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DWORD error = 0xDEAD;
        EXPECT_EQ(c.exists, QvCommon::Storage::File::IsExisted(c.path, &error));
        EXPECT_EQ(c.error, error);
    }
}
