#include "QV_base64.h"

#include <algorithm>

#include "QV_error.h"

namespace
{
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}
} // namespace

std::string Base64Lines(const std::vector<unsigned char>& bytes)
{
    std::string out;
    size_t column = 0;
    for (size_t i = 0; i < bytes.size(); i += 3)
    {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        unsigned int group = (unsigned int)bytes[i] << 16;
        if (n > 1)
            group |= (unsigned int)bytes[i + 1] << 8;
        if (n > 2)
            group |= bytes[i + 2];
        for (size_t k = 0; k < 4; ++k)
            out += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 63] : '=';
        column += 4;
        if (column == 76 || i + 3 >= bytes.size())
        {
            out += '\n';
            column = 0;
        }
    }
    return out;
}

bool DecodeBase64(const char* text, std::vector<unsigned char>& out, std::string& why)
{
    out.clear();
    unsigned int bits = 0;
    int have = 0;
    int padding = 0;
    size_t symbols = 0;
    for (const char* p = text ? text : ""; *p; ++p)
    {
        const char c = *p;
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
            continue;
        ++symbols;
        if (c == '=')
        {
            ++padding;
            continue;
        }
        const int v = Value(c);
        if (v < 0)
        {
            why = "the base64 text holds " + QuoteName(std::string(1, c));
            return false;
        }
        if (padding)
        {
            why = "base64 text follows its '=' padding";
            return false;
        }
        bits = (bits << 6) | (unsigned int)v;
        have += 6;
        if (have >= 8)
        {
            have -= 8;
            out.push_back((unsigned char)(bits >> have));
            bits &= (1u << have) - 1u;
        }
    }
    if (symbols % 4 != 0 || padding > 2)
    {
        why = "the base64 text does not end on a whole group of four";
        return false;
    }
    return true;
}
