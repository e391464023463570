// Base64 (RFC 4648), the text a body's PNG texture stands as in the actor file.
#ifndef QV_BASE64_H
#define QV_BASE64_H

#include <string>
#include <vector>

// The base64 text of bytes, in lines of 76 characters each ended by a line
// break (no text, no line, for no bytes).
std::string Base64Lines(const std::vector<unsigned char>& bytes);

// The bytes of base64 text, in which white space may stand anywhere and '='
// pads only the end. False, with why saying so in a few words, for anything
// else.
bool DecodeBase64(const char* text, std::vector<unsigned char>& out, std::string& why);

#endif // QV_BASE64_H
