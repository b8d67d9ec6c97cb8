#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ProductKeys.h"
#include "RegistryScope.h"
#include "Storage.h"
#include "TestFiles.h"
#include "TestSupport.h"

using KelTest::RegAbsent;
using KelTest::RegistryScope;
using QvCommon::Storage::Exception;
using QvCommon::Storage::IniFile;
using QvCommon::Storage::Key;
using QvCommon::Storage::Registry;

namespace {

constexpr DWORD WORKING_SET_DEFAULT = 350;

std::vector<BYTE> Raw(std::initializer_list<BYTE> bytes) { return std::vector<BYTE>(bytes); }

// Text stored without its terminator.
std::vector<BYTE> Unterminated(const std::wstring& text) {
    std::vector<BYTE> bytes = RegistryScope::Bytes(text);
    bytes.resize(bytes.size() - sizeof(wchar_t));
    return bytes;
}

Key ProductKey() { return Key(QVSTORAGE_REGISTRY, HKEY_LOCAL_MACHINE, QV_PRODUCT_KEY); }

// Runs an operation that must throw a storage exception; gives its code and
// source, or fails the test.
struct Thrown {
    DWORD code = 0;
    std::string source;
};
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
TEST(RegistryViews, ProductStringsFrom64BitViewWorkingSetFromRedirectedView) {
    RegistryScope path64(KEY_WOW64_64KEY, QV_PRODUCT_KEY, QV_VALUE_PRODUCT_PATH, L"C:\\Quorvane64\\");
    RegistryScope path32(KEY_WOW64_32KEY, QV_PRODUCT_KEY, QV_VALUE_PRODUCT_PATH, L"C:\\Quorvane32\\");
    RegistryScope set64(KEY_WOW64_64KEY, QV_PRODUCT_KEY, QV_VALUE_WORKING_SET_MB, DWORD{640});
    RegistryScope set32(KEY_WOW64_32KEY, QV_PRODUCT_KEY, QV_VALUE_WORKING_SET_MB, DWORD{320});

    EXPECT_EQ(QVREG_VIEW_64, Frwk::Utility::ProductRegistryView());
    EXPECT_EQ(L"C:\\Quorvane64\\",
              Frwk::Utility::GetStrFromHKLM_NORDAL(QV_VALUE_PRODUCT_PATH, L"none"));
    EXPECT_EQ(320u, ReadRegDword(QV_PRODUCT_KEY, QV_VALUE_WORKING_SET_MB, WORKING_SET_DEFAULT,
                                 QVREG_VIEW_DEFAULT));

    struct ViewCase {
        DWORD view;
        DWORD workingSet;
        const wchar_t* productPath;
    };
    const ViewCase cases[] = {
        {QVREG_VIEW_DEFAULT, 320, L"C:\\Quorvane32\\"},
        {QVREG_VIEW_32, 320, L"C:\\Quorvane32\\"},
        {QVREG_VIEW_64, 640, L"C:\\Quorvane64\\"},
    };
    for (const ViewCase& c : cases) {
        SCOPED_TRACE(c.view);
        EXPECT_EQ(c.workingSet, ReadRegDword(QV_PRODUCT_KEY, QV_VALUE_WORKING_SET_MB,
                                             WORKING_SET_DEFAULT, c.view));
        EXPECT_EQ(c.productPath, ReadRegString(HKEY_LOCAL_MACHINE, QV_PRODUCT_KEY,
                                               QV_VALUE_PRODUCT_PATH, L"none", c.view));
    }
}

TEST(RegistryViews, ValueOnlyIn64BitViewIsMissingForTheDefaultView) {
    RegistryScope set64(KEY_WOW64_64KEY, QV_PRODUCT_KEY, QV_VALUE_WORKING_SET_MB, DWORD{640});
    RegistryScope set32(KEY_WOW64_32KEY, QV_PRODUCT_KEY, QV_VALUE_WORKING_SET_MB, RegAbsent{});
    EXPECT_EQ(WORKING_SET_DEFAULT, ReadRegDword(QV_PRODUCT_KEY, QV_VALUE_WORKING_SET_MB,
                                                WORKING_SET_DEFAULT, QVREG_VIEW_DEFAULT));
}

// What the read functions make of each stored type: the value, or the default
// with the storage code.
TEST(ReadFunctions, StoredTypesAndDefaults) {
    struct DwordCase {
        const char* what;
        DWORD type;
        std::vector<BYTE> data;
        DWORD expected;
    };
    const DwordCase dwordCases[] = {
        {"REG_DWORD", REG_DWORD, Raw({0xF4, 0x01, 0, 0}), 500},
        {"REG_SZ \"500\" counts as missing", REG_SZ, RegistryScope::Bytes(L"500"), 350},
        {"REG_BINARY of four bytes", REG_BINARY, Raw({0xF4, 0x01, 0, 0}), 350},
        {"REG_QWORD", REG_QWORD, Raw({0xF4, 0x01, 0, 0, 0, 0, 0, 0}), 350},
        {"REG_DWORD of eight bytes", REG_DWORD, Raw({0xF4, 0x01, 0, 0, 0, 0, 0, 0}), 350},
        {"REG_DWORD of two bytes", REG_DWORD, Raw({0xF4, 0x01}), 350},
        {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN, Raw({0, 0, 0x01, 0xF4}), 350},
    };
    for (const DwordCase& c : dwordCases) {
        SCOPED_TRACE(c.what);
        RegistryScope value(KEY_WOW64_32KEY, QV_PRODUCT_KEY, QV_VALUE_WORKING_SET_MB, c.type, c.data);
        EXPECT_EQ(c.expected, ReadRegDword(QV_PRODUCT_KEY, QV_VALUE_WORKING_SET_MB,
                                           WORKING_SET_DEFAULT, QVREG_VIEW_DEFAULT));
    }

    struct StringCase {
        const char* what;
        DWORD type;
        std::vector<BYTE> data;
        std::wstring expected;
        DWORD error;
    };
    const std::wstring multi(L"first\0second\0", 13);
    const StringCase stringCases[] = {
        {"REG_SZ", REG_SZ, RegistryScope::Bytes(L"FR-FR"), L"FR-FR", 0},
        {"REG_SZ empty", REG_SZ, RegistryScope::Bytes(L""), L"", 0},
        {"REG_SZ without terminator", REG_SZ, Unterminated(L"DE-DE"), L"DE-DE", 0},
        {"REG_EXPAND_SZ stays unexpanded", REG_EXPAND_SZ, RegistryScope::Bytes(L"%WINDIR%\\x"),
         L"%WINDIR%\\x", 0},
        {"REG_MULTI_SZ keeps its inner terminators", REG_MULTI_SZ, RegistryScope::Bytes(multi),
         multi, 0},
        {"REG_DWORD", REG_DWORD, Raw({1, 0, 0, 0}), L"default", ERROR_INVALID_DATA},
        {"REG_BINARY", REG_BINARY, Raw({'E', 0, 'N', 0, 0, 0}), L"default", ERROR_INVALID_DATA},
    };
    for (const StringCase& c : stringCases) {
        SCOPED_TRACE(c.what);
        RegistryScope value(KEY_WOW64_64KEY, QV_PRODUCT_KEY, QV_VALUE_LANGUAGE, c.type, c.data);
        DWORD error = 0xDEAD;
        std::wstring read = ReadRegString(HKEY_LOCAL_MACHINE, QV_PRODUCT_KEY, QV_VALUE_LANGUAGE,
                                          L"default", QVREG_VIEW_64, &error);
        EXPECT_EQ(c.expected, read);
        EXPECT_EQ(c.error, error);
    }
}

// A caller that copies a REG_MULTI_SZ up to its first terminator sees only
// the first string.
TEST(ReadFunctions, MultiStringCopiedAsCStringGivesItsFirstString) {
    RegistryScope value(KEY_WOW64_64KEY, QV_PRODUCT_KEY, QV_VALUE_LANGUAGE,
                        std::wstring(L"first\0second\0", 13), REG_MULTI_SZ);
    std::wstring read = Frwk::Utility::GetStrFromHKLM_NORDAL(QV_VALUE_LANGUAGE, L"");
    EXPECT_EQ(L"first", std::wstring(read.c_str()));
}

TEST(ReadFunctions, MissingKeyAndValueGiveTheDefaultWithCode2) {
    RegistryScope present(KEY_WOW64_64KEY, QV_PRODUCT_KEY, QV_VALUE_PRODUCT_PATH, L"C:\\Q\\");
    RegistryScope absent(KEY_WOW64_64KEY, QV_PRODUCT_KEY, QV_VALUE_LANGUAGE, RegAbsent{});
    const wchar_t* const keys[] = {QV_PRODUCT_KEY, QV_PRODUCT_KEY L"\\NoSuchKey"};
    for (const wchar_t* key : keys) {
        SCOPED_TRACE(testing::Message() << std::string(key, key + wcslen(key)));
        DWORD error = 0;
        EXPECT_EQ(L"dflt", ReadRegString(HKEY_LOCAL_MACHINE, key, QV_VALUE_LANGUAGE, L"dflt",
                                         QVREG_VIEW_64, &error));
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), error);
        EXPECT_EQ(7u, ReadRegDword(key, QV_VALUE_LANGUAGE, 7, QVREG_VIEW_64));
    }
}

TEST(StorageException, CodesAndSources) {
    RegistryScope text(KEY_WOW64_64KEY, QV_PRODUCT_KEY, QV_VALUE_LANGUAGE, L"FR-FR");
    RegistryScope number(KEY_WOW64_64KEY, QV_PRODUCT_KEY, QV_VALUE_WORKING_SET_MB, DWORD{500});
    RegistryScope absent(KEY_WOW64_64KEY, QV_PRODUCT_KEY, QV_VALUE_INSTALL_CULTURE, RegAbsent{});
    KelTest::TempFolder folder;

    const std::string registry = "QvComn_Registry";
    const std::string ini = "QvComn_IniFile";
    struct Case {
        const char* what;
        std::function<void()> operation;
        DWORD code;
        const std::string& source;
    };
    const Case cases[] = {
        {"open of a missing key", [] {
             Registry r(QVREG_VIEW_64);
             r.OpenForRead(ProductKey(), L"NoSuchKey");
         }, ERROR_FILE_NOT_FOUND, registry},
        {"missing value: the default argument is not used", [] {
             Registry r(QVREG_VIEW_64);
             r.OpenForRead(ProductKey(), L"");
             r.ReadString(QV_VALUE_INSTALL_CULTURE, L"default");
         }, ERROR_FILE_NOT_FOUND, registry},
        {"missing DWORD", [] {
             Registry r(QVREG_VIEW_64);
             r.OpenForRead(ProductKey(), L"");
             r.ReadDword(QV_VALUE_INSTALL_CULTURE);
         }, ERROR_FILE_NOT_FOUND, registry},
        {"location without a root key", [] {
             Registry r(QVREG_VIEW_64);
             r.OpenForRead(Key(QVSTORAGE_REGISTRY, nullptr, QV_PRODUCT_KEY), L"");
         }, ERROR_BAD_ARGUMENTS, registry},
        {"read before open", [] {
             Registry r(QVREG_VIEW_64);
             r.ReadString(QV_VALUE_LANGUAGE, L"");
         }, ERROR_INVALID_HANDLE, registry},
        {"DWORD read before open", [] { Registry(QVREG_VIEW_64).ReadDword(QV_VALUE_WORKING_SET_MB); },
         ERROR_INVALID_HANDLE, registry},
        {"close before open", [] { Registry(QVREG_VIEW_64).Close(false); }, ERROR_INVALID_HANDLE,
         registry},
        {"a failed open leaves the object closed", [] {
             Registry r(QVREG_VIEW_64);
             try {
                 r.OpenForRead(ProductKey(), L"NoSuchKey");
             } catch (Exception* e) {
                 delete e;
             }
             r.ReadString(QV_VALUE_LANGUAGE, L"");
         }, ERROR_INVALID_HANDLE, registry},
        {"a closed object reads no more", [] {
             Registry r(QVREG_VIEW_64);
             r.OpenForRead(ProductKey(), L"");
             r.Close(false);
             r.ReadString(QV_VALUE_LANGUAGE, L"");
         }, ERROR_INVALID_HANDLE, registry},
        {"DWORD read of REG_SZ", [] {
             Registry r(QVREG_VIEW_64);
             r.OpenForRead(ProductKey(), L"");
             r.ReadDword(QV_VALUE_LANGUAGE);
         }, ERROR_INVALID_DATA, registry},
        {"string read of REG_DWORD", [] {
             Registry r(QVREG_VIEW_64);
             r.OpenForRead(ProductKey(), L"");
             r.ReadString(QV_VALUE_WORKING_SET_MB, L"");
         }, ERROR_INVALID_DATA, registry},
        {"binary read of REG_SZ", [] {
             Registry r(QVREG_VIEW_64);
             r.OpenForRead(ProductKey(), L"");
             std::vector<BYTE> data;
             r.ReadBinary(QV_VALUE_LANGUAGE, data);
         }, ERROR_INVALID_DATA, registry},
        {"INI without a section", [&folder] {
             IniFile f;
             f.OpenForRead(Key(folder.Path(), L"settings.ini"), L"");
         }, ERROR_BAD_ARGUMENTS, ini},
        {"INI without a file name", [&folder] {
             IniFile f;
             f.OpenForRead(Key(folder.Path(), L""), L"Section");
         }, ERROR_BAD_ARGUMENTS, ini},
        {"INI read before open", [] { IniFile().ReadString(L"Name", L""); }, ERROR_INVALID_HANDLE,
         ini},
        {"INI close before open", [] { IniFile().Close(false); }, ERROR_INVALID_HANDLE, ini},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Thrown thrown = Catch(c.operation);
        EXPECT_EQ(c.code, thrown.code);
        EXPECT_EQ(c.source, thrown.source);
    }
}

// The location's path gets exactly one "\" before the subkey, with or without
// one of its own; an empty subkey opens the location itself.
TEST(RegistryStorage, OpensLocationJoinedWithSubkey) {
    RegistryScope value(KEY_WOW64_64KEY, QV_DEBUGLOG_KEY, QV_VALUE_DUMP_TYPE, DWORD{1});
    struct Case {
        const wchar_t* path;
        const wchar_t* subkey;
        const wchar_t* fullPath;
    };
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
    KelTest::Files::WriteText(folder.Path() + L"settings.ini",
                           "[Log]\r\nEnable=1\r\nLevel=273\r\nLogPrefix=Quorvane\r\n"
                           "Empty=\r\nLong=" + longText + "\r\nWord=abc\r\n[Other]\r\nLogFile=x\r\n");
    struct Case {
        const char* what;
        std::wstring folder;
        const wchar_t* name;
        bool isString;
        std::wstring stringDefault;
        std::wstring expectedString;
        DWORD dwordDefault;
        DWORD expectedDword;
    };
    const std::wstring withoutSlash = folder.Path().substr(0, folder.Path().size() - 1);
    const Case cases[] = {
        {"string", withoutSlash, L"LogPrefix", true, L"NORDAL", L"Quorvane", 0, 0},
        {"string, folder ending in \\", folder.Path(), L"LogPrefix", true, L"NORDAL", L"Quorvane", 0, 0},
        {"missing string", folder.Path(), L"LogExtension", true, L"log", L"log", 0, 0},
        {"other section's value", folder.Path(), L"LogFile", true, L"none", L"none", 0, 0},
        {"empty string stays empty", folder.Path(), L"Empty", true, L"dflt", L"", 0, 0},
        {"text longer than one buffer", folder.Path(), L"Long", true, L"",
         std::wstring(longText.begin(), longText.end()), 0, 0},
        {"number", folder.Path(), L"Level", false, L"", L"", 0x100, 273},
        {"missing number", folder.Path(), L"Robust", false, L"", L"", 0x100, 0x100},
        {"text where a number is wanted", folder.Path(), L"Word", false, L"", L"", 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        IniFile file;
        file.OpenForRead(Key(c.folder, L"settings.ini"), L"Log");
        EXPECT_EQ(folder.Path() + L"settings.ini", file.GetFilePath());
        if (c.isString)
            EXPECT_EQ(c.expectedString, file.ReadString(c.name, c.stringDefault));
        else
            EXPECT_EQ(c.expectedDword, file.ReadDword(c.name, c.dwordDefault));
        file.Close(false);
    }
}

TEST(IniFileStorage, MissingFileGivesEveryDefault) {
    KelTest::TempFolder folder;
    IniFile file;
    file.OpenForRead(Key(folder.Path(), L"absent.ini"), L"Log");
    EXPECT_EQ(L"NORDAL", file.ReadString(L"LogPrefix", L"NORDAL"));
    EXPECT_EQ(0x100u, file.ReadDword(L"Level", 0x100));
    EXPECT_FALSE(QvCommon::Storage::File::IsExisted(folder.Path() + L"absent.ini"));
}

TEST(FileExistence, PathsAndPatterns) {
    KelTest::TempFolder folder;
    KelTest::Files::WriteText(folder.Path() + L"present.txt", "x");
    ASSERT_TRUE(::CreateDirectoryW((folder.Path() + L"sub").c_str(), nullptr));
    struct Case {
        const char* what;
        std::wstring path;
        bool exists;
        DWORD error;
    };
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
