// The portable number conversions against the automation runtime, on every input of the tables
// in tests/data/numbers, under the decimal point (LCID 0x0409) and the decimal comma (0x0C0A).
// The system headers first: see win32.h.
#include <gtest/gtest.h>

#include <cstdlib>

#include "common/fixed_locale.h"
#include "platform/windows/com_support.h"
#include "platform/windows/win32.h"
#include "platform/windows/windows_platform.h"
#include "sim/formats/scene_file.h"
#include "testkit/wine/support.h"
#include "tests/support/number_table.h"

namespace vpolv::winetest {
namespace {

using namespace vpolv::testing;

constexpr LCID kLocales[2] = {0x0409, 0x0C0A};
const char* const kLocaleNames[2] = {"point", "comma"};

NumberAnswer fromResult(HRESULT hr, double value) {
    if (hr == DISP_E_TYPEMISMATCH)
        return {NumberAnswer::Mismatch};
    if (hr == DISP_E_OVERFLOW)
        return {NumberAnswer::Overflow};
    win::check(hr);
    return {NumberAnswer::Value, value};
}

// The runtime's answer for text to Long (0) or to double (1).
NumberAnswer runtime(const Text& text, LCID lcid, int kind) {
    const win::Bstr value = win::toBstr(text);
    if (kind == 0) {
        LONG result = 0;
        const HRESULT hr = VarI4FromStr(value.get(), lcid, 0, &result);
        return fromResult(hr, result);
    }
    double result = 0;
    const HRESULT hr = VarR8FromStr(value.get(), lcid, 0, &result);
    return fromResult(hr, result);
}

// Each input converts to the runtime's value or error, or to the departure of this runtime that
// the table records.
TEST(Numbers, TextConvertsAsTheRuntimeDoes) {
    const auto rows = readConversionTable(VPOLV_NUMBERS_DIR "/conversions.tsv");
    ASSERT_GT(rows.size(), 1000u);
    const FixedLocale locales[2] = {FixedLocale(u'.'), FixedLocale(u',')};
    // The DLL's own conversions use the user locale: the decimal point here (LC_ALL).
    const Locale& user = platform::windows::services().locale;
    int compared = 0;
    for (const ConversionRow& row : rows) {
        for (int l = 0; l < 2; ++l) {
            for (int kind = 0; kind < 2; ++kind) {
                const NumberAnswer got = runtime(row.text, kLocales[l], kind);
                const NumberAnswer portable =
                    kind == 0 ? answerOf([&] { return locales[l].textToLong(row.text); })
                              : answerOf([&] { return locales[l].textToDouble(row.text); });
                const auto& platform = row.answers[l][kind].platform;
                const bool agree = kind == 0 ? got == portable : sameDouble(got, portable);
                const bool known =
                    platform && (kind == 0 ? got == *platform : sameDouble(got, *platform));
                EXPECT_TRUE(agree || known)
                    << "line " << row.line << " \"" << row.escaped << "\" " << kLocaleNames[l]
                    << (kind ? " double" : " Long") << ": runtime " << formatAnswer(got)
                    << ", portable " << formatAnswer(portable);
                ++compared;
            }
        }
        const NumberAnswer viaUser = answerOf([&] { return user.textToLong(row.text); });
        EXPECT_EQ(viaUser, runtime(row.text, kLocales[0], 0)) << "line " << row.line;
    }
    EXPECT_EQ(compared, static_cast<int>(rows.size()) * 4);
}

TEST(Numbers, DoubleTextIsTheRuntimes) {
    const auto rows = readDoubleTable(VPOLV_NUMBERS_DIR "/doubles.tsv");
    ASSERT_GT(rows.size(), 100u);
    const FixedLocale locales[2] = {FixedLocale(u'.'), FixedLocale(u',')};
    for (const DoubleRow& row : rows) {
        for (int l = 0; l < 2; ++l) {
            BSTR raw = nullptr;
            ASSERT_EQ(VarBstrFromR8(row.value, kLocales[l], 0, &raw), S_OK);
            const win::Bstr text(raw);
            const Text got = win::fromBstr(text.get());
            const Text portable = locales[l].doubleToText(row.value);
            EXPECT_TRUE(got == portable || got == row.platform[l])
                << "line " << row.line << " " << kLocaleNames[l] << ": runtime " << toUtf8(got)
                << ", portable " << toUtf8(portable);
        }
    }
}

// Under locales whose thousands separator and currency sign are not the decimal separator's
// usual companions (a non-breaking space, an apostrophe, a sign of several letters), the
// portable conversions given the locale's signs read numbers written with them as the runtime
// does, and write the runtime's text.
TEST(Numbers, OtherLocalesSignsReadAsTheRuntimeReadsThem) {
    const auto sign = [](LCID lcid, LCTYPE type) {
        wchar_t value[32] = {};
        EXPECT_GT(GetLocaleInfoW(lcid, type, value, 32), 0);
        return win::fromWide(value, wcslen(value));
    };
    // French (France), Swiss German, Russian, Japanese, Norwegian.
    for (const LCID lcid : {0x040C, 0x0807, 0x0419, 0x0411, 0x0414}) {
        const NumberSymbols signs{sign(lcid, LOCALE_SDECIMAL), sign(lcid, LOCALE_STHOUSAND),
                                  sign(lcid, LOCALE_SCURRENCY)};
        const FixedLocale portable(signs);
        const Text& d = signs.decimal;
        const Text& t = signs.thousands;
        const Text& c = signs.currency;
        for (const Text& text :
             {c + u"12", u"12" + c, u"12 " + c, u"-" + c + u" 1" + t + u"234" + d + u"5",
              u"1" + t + u"234" + t + u"567", u"1" + t + u"234" + d + u"5", u"(" + c + u"5)",
              c.substr(0, 1) + u"12", u"1" + t + t + u"2", u"&H1F" + c, c, t + u"5"}) {
            for (int kind = 0; kind < 2; ++kind) {
                const NumberAnswer got = runtime(text, lcid, kind);
                const NumberAnswer mine =
                    kind == 0 ? answerOf([&] { return portable.textToLong(text); })
                              : answerOf([&] { return portable.textToDouble(text); });
                EXPECT_TRUE(kind == 0 ? got == mine : sameDouble(got, mine))
                    << std::hex << lcid << " \"" << toUtf8(text) << "\""
                    << (kind ? " double" : " Long") << ": runtime " << formatAnswer(got)
                    << ", portable " << formatAnswer(mine);
            }
        }
        BSTR raw = nullptr;
        ASSERT_EQ(VarBstrFromR8(-1234.5, lcid, 0, &raw), S_OK);
        const win::Bstr text(raw);
        EXPECT_EQ(toUtf8(win::fromBstr(text.get())), toUtf8(portable.doubleToText(-1234.5)));
    }
}

// Points written in every form the runtime reads, placed by the DLL with its trace on. The
// record is tests/sim/point-forms-dll.jsonl, which the simulator replays identically; with
// VPOLV_POINT_FORMS_TRACE set, it is written there anew.
TEST(Numbers, TheDllTracesPointsOfEveryForm) {
    const sim::SceneFile file =
        sim::loadScene(windowsPath(VPOLV_SIM_TESTS_DIR "/point-forms.json"));
    const char* wanted = std::getenv("VPOLV_POINT_FORMS_TRACE");
    const std::wstring trace = wanted ? windowsPath(wanted) : paths().folder + L"\\forms.jsonl";
    DeleteFileW(trace.c_str());
    const wchar_t* key = L"Software\\vpolv";
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key, L"TraceFile", REG_SZ, trace.c_str(),
                              static_cast<DWORD>((trace.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    {
        const ComPtr<IDispatch> plugin = createPlugin();
        fakeHost().reset(file.scene);
        Outcome out;
        fire(plugin.get(), Event::Scene, out);
        EXPECT_EQ(out.hr, S_OK) << toUtf8(out.description);
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"TraceFile");
    EXPECT_NE(GetFileAttributesW(trace.c_str()), INVALID_FILE_ATTRIBUTES);
    // Every object of the scene got its surcharge.
    EXPECT_EQ(fakeHost().memory().writes().size(), 3 * file.scene.sceneObjects.size());
}

}  // namespace
}  // namespace vpolv::winetest
