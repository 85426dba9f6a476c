// Number conversions of OLE Automation under the user's default locale.
#include <iterator>

#include "platform/windows/com_support.h"
#include "platform/windows/win32.h"
#include "platform/windows/windows_platform_impl.h"

namespace vpolv::platform::windows {
namespace {

// Conversion failures become the automation runtime's own errors.
void checkConversion(HRESULT hr) {
    if (hr == DISP_E_TYPEMISMATCH)
        throw errors::typeMismatch();
    if (hr == DISP_E_OVERFLOW)
        throw errors::overflow();
    win::check(hr);
}

// Up to nine decimal digits and nothing else read the same under every locale, and always fit:
// the common case of a points value, converted without the runtime's locale look-ups.
constexpr std::size_t kPlainDigits = 9;
bool plainDigits(const Text& text, Long& value) {
    if (text.empty() || text.size() > kPlainDigits)
        return false;
    Long result = 0;
    for (const char16_t c : text) {
        if (c < u'0' || c > u'9')
            return false;
        result = result * 10 + (c - u'0');
    }
    value = result;
    return true;
}

}  // namespace

Long WindowsLocale::textToLong(const Text& text) const {
    if (Long plain = 0; plainDigits(text, plain))
        return plain;
    const win::Bstr value = win::toBstr(text);
    LONG result = 0;
    checkConversion(VarI4FromStr(value.get(), LOCALE_USER_DEFAULT, 0, &result));
    return result;
}

double WindowsLocale::textToDouble(const Text& text) const {
    const win::Bstr value = win::toBstr(text);
    double result = 0;
    checkConversion(VarR8FromStr(value.get(), LOCALE_USER_DEFAULT, 0, &result));
    return result;
}

Text WindowsLocale::doubleToText(double value) const {
    BSTR raw = nullptr;
    checkConversion(VarBstrFromR8(value, LOCALE_USER_DEFAULT, 0, &raw));
    const win::Bstr result(raw);
    return win::fromBstr(result.get());
}

// The user's own settings, as the runtime reads them for the conversions above.
NumberSymbols WindowsLocale::symbols() const {
    const auto read = [](LCTYPE type) {
        wchar_t value[32];
        const int length = GetLocaleInfoW(LOCALE_USER_DEFAULT, type, value, std::size(value));
        if (length <= 0)
            win::check(HRESULT_FROM_WIN32(GetLastError()));
        return win::fromWide(value, wcsnlen(value, std::size(value)));
    };
    return {read(LOCALE_SDECIMAL), read(LOCALE_STHOUSAND), read(LOCALE_SCURRENCY)};
}

}  // namespace vpolv::platform::windows
