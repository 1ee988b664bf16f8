// Numbers as text: the general reading of a number in the C locale.
#include "acfile/acfile.h"
#include "acfile/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <locale.h>

namespace acfile {

/* {====== Reading numbers ====== */

static locale_t c_locale()
{
    static locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return c;
}

float parse_c(const char *s, float) { return strtof_l(s, nullptr, c_locale()); }
double parse_c(const char *s, double) { return strtod_l(s, nullptr, c_locale()); }

bool check_real(const char *&p, const char *end)
{
    if (const char *q = check_plain_real(p, end)) {
        p = q;
        return true;
    }
    float value;
    return read_real(p, end, value) == NUMBER_OK;
}

bool is_number(std::string_view word)
{
    const char *p = word.data();
    float v;
    return !word.empty() && read_real(p, word.data() + word.size(), v) != NUMBER_NONE;
}

/* }====== */

} // namespace acfile
