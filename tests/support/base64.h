// Base64 (RFC 4648, with padding), for tests that write glTF files with
// their data inline.
#ifndef QV_TEST_BASE64_H
#define QV_TEST_BASE64_H

#include <string>
#include <vector>

inline std::string Base64(const std::vector<unsigned char>& bytes)
{
    static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string s;
    for (size_t i = 0; i < bytes.size(); i += 3)
    {
        const unsigned v =
            bytes[i] << 16 | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0) | (i + 2 < bytes.size() ? bytes[i + 2] : 0);
        s += k[v >> 18 & 63];
        s += k[v >> 12 & 63];
        s += i + 1 < bytes.size() ? k[v >> 6 & 63] : '=';
        s += i + 2 < bytes.size() ? k[v & 63] : '=';
    }
    return s;
}

#endif // QV_TEST_BASE64_H
