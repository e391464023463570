#include "QV_error.h"

std::string QuoteName(const std::string& s)
{
    const size_t maxLen = 40;
    std::string out("'");
    for (size_t i = 0; i < s.size() && i < maxLen; ++i)
    {
        const unsigned char c = (unsigned char)s[i];
        out += (c < 0x20 || c == 0x7f) ? '?' : (char)c;
    }
    if (s.size() > maxLen)
        out += "...";
    out += "'";
    return out;
}
