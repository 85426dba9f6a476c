// The Windows services the core relies on: OLE Automation's conversions, the profile reader,
// directory listing and file lengths.
// The system headers first: see win32.h.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/error.h"
#include "common/text.h"
#include "platform/windows/win32.h"
#include "platform/windows/windows_platform.h"
#include "platform/windows/windows_platform_impl.h"
#include "testkit/wine/support.h"

namespace vpolv::winetest {
namespace {

const platform::Services& services() {
    return platform::windows::services();
}

using testing::errorCode;

Text folder() {
    return win::fromWide(paths().folder);
}

void writeFile(const Text& path, const std::string& contents, DWORD attributes = 0) {
    winetest::writeFile(win::toWide(path), contents, attributes);
}

TEST(WindowsLocale, ConvertsLikeTheAutomationRuntime) {
    const platform::Locale& l = services().locale;
    EXPECT_EQ(l.textToLong(u"40"), 40);
    EXPECT_EQ(l.textToLong(u" -10 "), -10);
    EXPECT_EQ(l.textToLong(u"2.5"), 2);
    EXPECT_EQ(l.textToLong(u"3.5"), 4);
    EXPECT_EQ(errorCode([&] { l.textToLong(u""); }), errors::kTypeMismatch);
    EXPECT_EQ(errorCode([&] { l.textToLong(u"abc"); }), errors::kTypeMismatch);
    EXPECT_EQ(errorCode([&] { l.textToLong(u"3000000000"); }), errors::kOverflow);
    EXPECT_DOUBLE_EQ(l.textToDouble(u"120"), 120.0);
    EXPECT_DOUBLE_EQ(l.textToDouble(u"12.25"), 12.25);
    EXPECT_EQ(l.doubleToText(90.0), u"90");
    EXPECT_EQ(l.doubleToText(1.0 / 3), u"0.333333333333333");
    EXPECT_EQ(l.doubleToText(-2.5), u"-2.5");
}

// Plain digits take a shorter path: it must agree with the runtime at and around its limits.
TEST(WindowsLocale, PlainDigitsConvertLikeTheRuntime) {
    const platform::Locale& l = services().locale;
    for (const Text text : {u"0", u"007", u"123456789", u"999999999", u"0000000001", u"1234567890",
                            u"2147483647", u"2147483648", u"12a", u"+5", u"5 "}) {
        const win::Bstr value = win::toBstr(text);
        LONG expected = 0;
        const HRESULT hr = VarI4FromStr(value.get(), LOCALE_USER_DEFAULT, 0, &expected);
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(l.textToLong(text), expected) << toUtf8(text);
        } else {
            EXPECT_NE(errorCode([&] { l.textToLong(text); }), 0) << toUtf8(text);
        }
    }
}

// The profile reads its files itself: it reads them as the system's profile function does.
TEST(WindowsProfile, ReadsAsTheSystemsProfileFunction) {
    const Text file = folder() + u"\\profile.ini";
    const std::string longValue(700, 'x');
    const char utf16[] =
        "\xFF\xFE[\0L\0o\0c\0a\0l\0]\0\n\0C\0a\0t\0a\0l\0o\0g\0s\0D\0i\0r\0=\0\xD1\0";
    const std::string contents[] = {
        "[Local]\r\nCatalogsDir=\r\n[InSitu]\r\ncatalogsdir=C:\\Cat\\\r\n[Remote]\r\n"
        "CatalogsDir=" +
            longValue + "\r\n",
        "  [local]  \n\t CatalogsDir  =  \"D:\\Quoted\"  \n[REMOTE]\nCatalogsDir='single'\n",
        "\xEF\xBB\xBF[Local]\r\nCatalogsDir=C:\\\xC3\x91\r\n",
        std::string(utf16, sizeof utf16 - 1),
        "[Local]\nCatalogsDir=C:\\\xD1\n;[InSitu]\n;CatalogsDir=x\n",
        "[Other]\nCatalogsDir=x\n[Local]\nKey=1\n",
        ""};
    const platform::Profile& p = services().profile;
    for (const std::string& content : contents) {
        writeFile(file, content);
        for (const Text section : {u"Local", u"InSitu", u"Remote", u"Nada"}) {
            wchar_t expected[1024];
            GetPrivateProfileStringW(win::toWide(section).c_str(), L"CatalogsDir", L"", expected,
                                     1024, win::toWide(file).c_str());
            EXPECT_EQ(p.readString(file, section, u"CatalogsDir"),
                      win::fromWide(expected, wcslen(expected)))
                << toUtf8(section) << " of " << content;
        }
    }
    EXPECT_EQ(p.readString(folder() + u"\\missing.ini", u"Local", u"CatalogsDir"), u"");
    EXPECT_EQ(p.readString(folder() + u"\\missing\\SPACE.INI", u"Local", u"CatalogsDir"), u"");
    EXPECT_EQ(p.readString(folder(), u"Local", u"CatalogsDir"), u"") << "a folder";
}

TEST(WindowsFileSystem, ListsVisibleEntriesAndMeasuresFiles) {
    const platform::FileSystem& fs = services().files;
    EXPECT_EQ(fs.separator(), u'\\');
    EXPECT_TRUE(fs.isSeparator(u'/'));

    const Text dir = folder() + u"\\listing";
    CreateDirectoryW(win::toWide(dir).c_str(), nullptr);
    CreateDirectoryW(win::toWide(dir + u"\\sub").c_str(), nullptr);
    writeFile(dir + u"\\file.cat", "12345");
    writeFile(dir + u"\\hidden.cat", "1", FILE_ATTRIBUTE_HIDDEN);
    writeFile(dir + u"\\system.cat", "1", FILE_ATTRIBUTE_SYSTEM);

    for (const Text& given : {dir, dir + u"\\"}) {
        auto entries = fs.listDirectory(given);
        std::vector<std::string> names;
        for (const auto& e : entries)
            names.push_back(toUtf8(e.name) + (e.directory ? "/" : ""));
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"../", "./", "file.cat", "sub/"}));
    }
    EXPECT_EQ(errorCode([&] { fs.listDirectory(dir + u"\\missing"); }), errors::kPathNotFound);

    EXPECT_EQ(fs.fileLength(dir + u"\\file.cat"), 5);
    EXPECT_EQ(fs.fileLength(dir + u"\\missing.cat"), -1);
    EXPECT_EQ(fs.fileLength(dir + u"\\sub"), -1);
}

TEST(WindowsFileSystem, ModuleFolderIsTheFolderOfTheCode) {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring expected = exe;
    expected.resize(expected.find_last_of(L'\\'));
    EXPECT_EQ(services().files.moduleFolder(), win::fromWide(expected));
}

}  // namespace
}  // namespace vpolv::winetest
