// Number conversions, checked arithmetic, UTF conversions and the error of the exception in flight.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>

#include "common/error.h"
#include "common/fixed_locale.h"
#include "common/text.h"
#include "testkit/doubles.h"

namespace vpolv {
namespace {

TEST(FixedLocale, TextToLongRoundsHalvesToEven) {
    const FixedLocale point(u'.');
    EXPECT_EQ(point.textToLong(u"2.5"), 2);
    EXPECT_EQ(point.textToLong(u"3.5"), 4);
    EXPECT_EQ(point.textToLong(u"-2.5"), -2);
    EXPECT_EQ(point.textToLong(u"2.51"), 3);
    EXPECT_EQ(point.textToLong(u" 40 "), 40);
    EXPECT_EQ(point.textToLong(u"-10"), -10);
    EXPECT_EQ(point.textToLong(u"1,000"), 1000);
    const FixedLocale comma(u',');
    EXPECT_EQ(comma.textToLong(u"2,5"), 2);
    EXPECT_EQ(comma.textToLong(u"37,5"), 38);
}

TEST(FixedLocale, TextToLongRejectsNonNumbersAndOverflow) {
    const FixedLocale point(u'.');
    for (const Text bad : {u"", u" ", u"abc", u"12abc", u"1.2.3", u"--1", u"."}) {
        EXPECT_EQ(testing::errorCode([&] { point.textToLong(bad); }), errors::kTypeMismatch)
            << toUtf8(bad);
    }
    EXPECT_EQ(point.textToLong(u"2147483647"), 2147483647);
    EXPECT_EQ(point.textToLong(u"-2147483648"), -2147483647 - 1);
    for (const Text big : {u"2147483648", u"-2147483649", u"1e30", u"1e400", u"0.001e312"}) {
        EXPECT_EQ(testing::errorCode([&] { point.textToLong(big); }), errors::kOverflow)
            << toUtf8(big);
    }
    // Below the smallest double is as good as nothing, not an overflow.
    const Text tiny = u"0." + Text(323, u'0') + u"1";
    for (const Text& small : std::vector<Text>{tiny, u"-1e-400", u"123e-400", u"0,000e-999"}) {
        EXPECT_EQ(point.textToDouble(small), 0) << toUtf8(small);
        EXPECT_EQ(point.textToLong(small), 0) << toUtf8(small);
    }
}

TEST(FixedLocale, DoubleToTextIsShortestWithLocaleSeparator) {
    const FixedLocale point(u'.');
    const FixedLocale comma(u',');
    EXPECT_EQ(point.doubleToText(45), u"45");
    EXPECT_EQ(point.doubleToText(37.5), u"37.5");
    EXPECT_EQ(comma.doubleToText(37.5), u"37,5");
    EXPECT_EQ(comma.doubleToText(22.5), u"22,5");
    EXPECT_EQ(point.doubleToText(90), u"90");
    EXPECT_EQ(point.doubleToText(-7.25), u"-7.25");
    EXPECT_EQ(point.doubleToText(1.0 / 3), u"0.333333333333333");
    EXPECT_EQ(point.doubleToText(0), u"0");
    EXPECT_EQ(comma.textToDouble(u"120") - 30, 90);
    EXPECT_DOUBLE_EQ(comma.textToDouble(u"37,5"), 37.5);
}

// Every boundary reports the exception in flight the same way.
TEST(CurrentError, TranslatesWhateverWasThrown) {
    const struct {
        std::function<void()> raise;
        std::int32_t code;
        Text description;
    } cases[] = {
        {[] { throw errors::typeMismatch(); }, errors::kTypeMismatch, u"Type mismatch"},
        {[] { throw std::bad_alloc(); }, static_cast<std::int32_t>(0x8007000E), u"Out of memory"},
        {[] { throw std::runtime_error("x"); }, static_cast<std::int32_t>(0x8000FFFF),
         u"Unexpected failure"},
        {[] { throw 42; }, static_cast<std::int32_t>(0x8000FFFF), u"Unexpected failure"},
    };
    for (const auto& c : cases) {
        try {
            c.raise();
        } catch (...) {
            const Error e = currentError();
            EXPECT_EQ(e.code(), c.code);
            EXPECT_EQ(e.description(), c.description);
        }
    }
}

TEST(CheckedArithmetic, RaisesOverflowInsteadOfWrapping) {
    EXPECT_EQ(checkedAdd(2147483646, 1), 2147483647);
    EXPECT_EQ(checkedMultiply(35, 2), 70);
    EXPECT_THROW(checkedAdd(2147483647, 1), Error);
    EXPECT_THROW(checkedMultiply(1073741824, 2), Error);
    EXPECT_THROW(checkedMultiply(-1073741825, 2), Error);
}

TEST(Utf, RoundTripsThroughUtf8) {
    const Text text = u"¡¡ATENCION!! capítulo @Rubrique.GénériqueChoixNom(,3) \U0001F600";
    EXPECT_EQ(fromUtf8(toUtf8(text)), text);
    EXPECT_EQ(fromUtf8("\xff"), u"\uFFFD");
    EXPECT_EQ(longToText(-10), u"-10");
}

}  // namespace
}  // namespace vpolv
