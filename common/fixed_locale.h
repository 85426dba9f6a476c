// Number conversions with a fixed decimal separator, as the automation runtime does them under a
// user locale whose decimal separator is '.' or ','. The other of the two is the thousands
// separator; the currency sign is '$' with the point and '€' with the comma, as in the US English
// and Spanish user locales these stand for.
#pragma once

#include "common/locale.h"

namespace vpolv {

class FixedLocale : public Locale {
  public:
    explicit FixedLocale(char16_t decimalSeparator = u'.');

    Long textToLong(const Text& text) const override;
    double textToDouble(const Text& text) const override;
    Text doubleToText(double value) const override;

    char16_t decimalSeparator() const { return decimal_; }

  private:
    char16_t decimal_;
    char16_t thousands_;
    char16_t currency_;
};

}  // namespace vpolv
