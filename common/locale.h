// Number conversions under a locale: the signs a locale writes numbers with, and the interface
// the platform fills in for the user locale (common/fixed_locale.h fills it in for given signs).
#pragma once

#include "common/types.h"

namespace vpolv {

// The signs a locale writes numbers with, each whole as the system gives it.
struct NumberSymbols {
    Text decimal = u".";
    Text thousands = u",";
    Text currency = u"$";

    // A decimal separator with its usual companions: with the comma, the thousands point and
    // the euro sign (as in the Spanish user locale); with anything else, the thousands comma and
    // the dollar sign (as in the US English one).
    static NumberSymbols forDecimal(Text decimal);
    bool operator==(const NumberSymbols&) const = default;
};

// Locale-aware number conversions, as the automation runtime does them under the user locale.
class Locale {
  public:
    virtual ~Locale() = default;
    // Text to Long: blanks around the number are allowed; a fraction rounds to the nearest
    // integer, halves to the even neighbour. Not a number: type mismatch; out of range: overflow.
    virtual Long textToLong(const Text& text) const = 0;
    // Text to double. Not a number: type mismatch; out of range: overflow.
    virtual double textToDouble(const Text& text) const = 0;
    // Shortest text with at most 15 significant digits and the locale's decimal separator;
    // a whole number has no decimal part.
    virtual Text doubleToText(double value) const = 0;
    // The signs the conversions read and write.
    virtual NumberSymbols symbols() const = 0;
};

}  // namespace vpolv
