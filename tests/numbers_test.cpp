// The portable number conversions against the runtime's answers recorded in tests/data/numbers.
#include <gtest/gtest.h>

#include "common/fixed_locale.h"
#include "support/number_table.h"

namespace vpolv::testing {
namespace {

const char* const kLocaleNames[2] = {"point", "comma"};

TEST(Numbers, TextConvertsAsRecorded) {
    const auto rows = readConversionTable(VPOLV_NUMBERS_DIR "/conversions.tsv");
    ASSERT_GT(rows.size(), 1000u);
    const FixedLocale locales[2] = {FixedLocale(u'.'), FixedLocale(u',')};
    for (const ConversionRow& row : rows) {
        for (int l = 0; l < 2; ++l) {
            const NumberAnswer asLong = answerOf([&] { return locales[l].textToLong(row.text); });
            const NumberAnswer asDouble =
                answerOf([&] { return locales[l].textToDouble(row.text); });
            const auto where = [&](const char* kind) {
                return "line " + std::to_string(row.line) + " \"" + row.escaped + "\" " +
                       kLocaleNames[l] + kind;
            };
            EXPECT_EQ(formatAnswer(asLong), formatAnswer(row.answers[l][0].documented))
                << where(" Long");
            EXPECT_TRUE(sameDouble(asDouble, row.answers[l][1].documented))
                << where(" double") << ": " << formatAnswer(asDouble) << ", recorded "
                << formatAnswer(row.answers[l][1].documented);
        }
    }
}

TEST(Numbers, DoubleTextAsRecorded) {
    const auto rows = readDoubleTable(VPOLV_NUMBERS_DIR "/doubles.tsv");
    ASSERT_GT(rows.size(), 100u);
    const FixedLocale locales[2] = {FixedLocale(u'.'), FixedLocale(u',')};
    for (const DoubleRow& row : rows) {
        for (int l = 0; l < 2; ++l) {
            EXPECT_EQ(toUtf8(locales[l].doubleToText(row.value)), toUtf8(row.texts[l]))
                << "line " << row.line << " " << kLocaleNames[l];
        }
    }
}

}  // namespace
}  // namespace vpolv::testing
