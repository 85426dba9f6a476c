// Number conversions with fixed signs, as the automation runtime does them under a user locale
// with those signs. Like the runtime, it reads the first character of the decimal and the
// thousands separators and the currency sign whole; FixedLocale(u',') stands for the Spanish user
// locale, FixedLocale(u'.') for the US English one (NumberSymbols::forDecimal).
#pragma once

#include "common/locale.h"

namespace vpolv {

class FixedLocale : public Locale {
  public:
    explicit FixedLocale(char16_t decimalSeparator = u'.');
    explicit FixedLocale(NumberSymbols symbols);

    Long textToLong(const Text& text) const override;
    double textToDouble(const Text& text) const override;
    Text doubleToText(double value) const override;
    NumberSymbols symbols() const override { return symbols_; }

    char16_t decimalSeparator() const { return decimal_; }

  private:
    NumberSymbols symbols_;
    char16_t decimal_;    // the first character; '.' when the locale has none
    char16_t thousands_;  // the first character; NUL, which ends any text read, when none
};

}  // namespace vpolv
