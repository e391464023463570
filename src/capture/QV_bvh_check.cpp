// The BVH check: what Assimp 5.2's BVH reader must not see, found by reading
// the file as that reader does. The reader keeps a reference into its list
// of joints while it reads a joint's children, so a joint whose CHANNELS or
// OFFSET come after a child joint makes it write freed memory; it recurses
// once per level of joints; it sizes its value arrays from the frame count
// before reading a value.
//
// Index
//   [SECTION] Tokens     white space, braces, lines
//   [SECTION] Hierarchy  the joints' grammar, followed without recursion
//   [SECTION] Motion     frame count, frame time and the values that follow
//   [SECTION] Entry      text encodings, then the check
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "QV_scene_reader.h"

namespace qvimport
{
namespace
{

// ---- [SECTION] Tokens ---------------------------------------------------------

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsControl(char c) { return (unsigned char)c < 0x20 || c == 0x7f; }

[[noreturn]] void Malformed(const std::string& what, size_t line)
{
    throw cImportError("malformed BVH: " + what + " (line " + std::to_string(line) + ")");
}

// The reader's tokens: runs of characters other than white space, and a
// brace alone when it starts one ("{OFFSET" is two tokens, "}}}" three,
// "OFFSET{" one). In the hierarchy (strict) a control character other than
// a tab or a line break is refused: the reader's idea of white space there
// is not worth guessing.
class cTokens
{
public:
    cTokens(const char* data, size_t size) : mP(data), mEnd(data + size) {}

    std::string Next()
    {
        for (; mP < mEnd && IsSpace(*mP); ++mP)
        {
            mLine += *mP == '\n' ? 1 : 0;
            if (mStrict && (*mP == '\v' || *mP == '\f'))
                Malformed("a control character in the hierarchy", mLine);
        }
        const char* start = mP;
        while (mP < mEnd && !IsSpace(*mP))
        {
            if (mStrict && IsControl(*mP))
                Malformed("a control character in the hierarchy", mLine);
            ++mP;
            if (*start == '{' || *start == '}')
                break;
        }
        return std::string(start, mP);
    }

    // How many tokens are left (braces counted as the reader splits them).
    size_t CountRest()
    {
        size_t n = 0;
        while (mP < mEnd)
        {
            for (; mP < mEnd && IsSpace(*mP); ++mP)
            {
            }
            const char* start = mP;
            while (mP < mEnd && !IsSpace(*mP))
            {
                ++mP;
                if (*start == '{' || *start == '}')
                    break;
            }
            n += mP > start ? 1 : 0;
        }
        return n;
    }

    size_t Line() const { return mLine; }
    bool mStrict = true;

private:
    const char* mP;
    const char* mEnd;
    size_t mLine = 1;
};

std::string Shown(const std::string& token) { return token.empty() ? "the end of the file" : QuoteName(token); }

std::string Shown(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

void Expect(cTokens& t, const char* word, const char* where)
{
    const std::string token = t.Next();
    if (token != word)
        Malformed(std::string("expected '") + word + "' " + where + ", found " + Shown(token), t.Line());
}

// A whole token that is a number, as strtod reads it (the reader is
// stricter; what it refuses it refuses before going on).
bool Number(const std::string& token, double& v)
{
    if (token.empty())
        return false;
    char* end = nullptr;
    v = std::strtod(token.c_str(), &end);
    return end == token.c_str() + token.size();
}

double ExpectNumber(cTokens& t, const char* what)
{
    const std::string token = t.Next();
    double v = 0;
    if (!Number(token, v))
        Malformed(std::string("expected ") + what + ", found " + Shown(token), t.Line());
    return v;
}

// ---- [SECTION] Hierarchy ------------------------------------------------------

struct sBlock
{
    bool mChildSeen = false; // a JOINT or End Site has been read in it
    bool mEndSite = false;
};

bool IsChannel(const std::string& s)
{
    static const char* const names[] = {"Xposition", "Yposition", "Zposition", "Xrotation", "Yrotation", "Zrotation"};
    for (const char* n : names)
        if (s == n)
            return true;
    return false;
}

// A joint's name and its opening brace.
void OpenJoint(cTokens& t, std::vector<sBlock>& open, size_t& joints)
{
    if (t.Next().empty())
        Malformed("the file ends at a joint's name", t.Line());
    if (++joints > kMaxJoints)
        throw cImportError("the skeleton has more than " + std::to_string(kMaxJoints) + " joints");
    Expect(t, "{", "after a joint's name");
    open.push_back(sBlock());
}

void Offset(cTokens& t)
{
    for (int i = 0; i < 3; ++i)
        ExpectNumber(t, "three numbers after OFFSET");
}

// The channels of a joint; returns how many.
size_t Channels(cTokens& t)
{
    const double n = ExpectNumber(t, "the number of channels after CHANNELS");
    if (!(n >= 0 && n <= (double)kMaxBvhChannels && n == std::floor(n)))
        Malformed("a joint with " + Shown(n) + " channels; the reader takes 0 to " + std::to_string(kMaxBvhChannels),
                  t.Line());
    for (int i = 0; i < (int)n; ++i)
    {
        const std::string name = t.Next();
        if (!IsChannel(name))
            Malformed("expected a channel such as Xrotation, found " + Shown(name), t.Line());
    }
    return (size_t)n;
}

// From ROOT's name to the brace that closes it; returns the number of
// channels of all joints.
size_t Hierarchy(cTokens& t)
{
    std::vector<sBlock> open;
    size_t joints = 0, channels = 0;
    OpenJoint(t, open, joints);
    while (!open.empty())
    {
        const std::string token = t.Next();
        sBlock& b = open.back();
        if (token == "}")
            open.pop_back();
        else if (token == "OFFSET" && (b.mEndSite || !b.mChildSeen))
            Offset(t);
        else if (b.mEndSite)
            Malformed("expected OFFSET or '}' in an End Site, found " + Shown(token), t.Line());
        else if (token == "OFFSET" || token == "CHANNELS")
        {
            if (b.mChildSeen)
                Malformed("a joint's " + token + " come after its child joints", t.Line());
            channels += Channels(t);
        }
        else if (token == "JOINT")
        {
            b.mChildSeen = true;
            OpenJoint(t, open, joints);
        }
        else if (token == "End")
        {
            b.mChildSeen = true;
            const std::string site = t.Next();
            if (site.size() != 4 || strncasecmp(site.c_str(), "site", 4) != 0)
                Malformed("expected 'Site' after 'End', found " + Shown(site), t.Line());
            Expect(t, "{", "after End Site");
            open.push_back(sBlock());
            open.back().mEndSite = true;
        }
        else
            Malformed("expected OFFSET, CHANNELS, JOINT, End or '}', found " + Shown(token), t.Line());
    }
    return channels;
}

// ---- [SECTION] Motion ---------------------------------------------------------

void Motion(cTokens& t, size_t channels)
{
    Expect(t, "MOTION", "after the hierarchy");
    t.mStrict = false;
    Expect(t, "Frames:", "after MOTION");
    const double frames = ExpectNumber(t, "the number of frames after 'Frames:'");
    if (!(frames >= 0 && frames == std::floor(frames)))
        Malformed("the number of frames is " + Shown(frames), t.Line());
    Expect(t, "Frame", "after the number of frames");
    Expect(t, "Time:", "after 'Frame'");
    const double frameTime = ExpectNumber(t, "the frame time after 'Frame Time:'");
    if (!(frameTime > 0) || !std::isfinite(frameTime))
        throw cImportError("the BVH file's frame time is " + Shown(frameTime) +
                           " s; it must be a positive number of seconds");
    if (frames > (double)kMaxFrames)
        throw cImportError("the BVH file has " + std::to_string((unsigned long long)frames) +
                           " frames; the importer takes at most " + std::to_string(kMaxFrames));
    const size_t wanted = (size_t)frames * channels;
    const size_t values = t.CountRest();
    if (values < wanted)
        throw cImportError("the BVH file announces " + std::to_string((size_t)frames) + " frames of " +
                           std::to_string(channels) + " values but holds " + std::to_string(values) + " values (" +
                           std::to_string(channels ? values / channels : 0) + " whole frames)");
}

// ---- [SECTION] Entry ----------------------------------------------------------

bool StartsWith(const unsigned char* data, size_t size, std::initializer_list<unsigned char> bytes)
{
    if (size < bytes.size())
        return false;
    size_t i = 0;
    for (unsigned char b : bytes)
        if (data[i++] != b)
            return false;
    return true;
}

// The reader starts at the first token that is not white space; anything
// that could be white space to it is skipped here.
bool StartsWithHierarchy(const char* data, size_t size)
{
    size_t i = 0;
    while (i < size && (IsControl(data[i]) || data[i] == ' '))
        ++i;
    return size - i >= 9 && std::memcmp(data + i, "HIERARCHY", 9) == 0;
}

} // namespace

void CheckBvh(const char* data, size_t size)
{
    const unsigned char* bytes = (const unsigned char*)data;
    // The reader decodes UTF-16 and UTF-32 by their byte-order marks and
    // drops UTF-8's; a wide BVH file is refused rather than decoded twice.
    if (StartsWith(bytes, size, {0xEF, 0xBB, 0xBF}))
    {
        data += 3;
        size -= 3;
    }
    else if (StartsWith(bytes, size, {0xFF, 0xFE}) || StartsWith(bytes, size, {0xFE, 0xFF}) ||
             StartsWith(bytes, size, {0x00, 0x00, 0xFE, 0xFF}))
    {
        std::string narrow;
        for (size_t i = 0; i < size; ++i)
            if (bytes[i] != 0 && bytes[i] != 0xFE && bytes[i] != 0xFF)
                narrow += data[i];
        if (StartsWithHierarchy(narrow.data(), narrow.size()))
            throw cImportError("the BVH file is in UTF-16 or UTF-32; save it as ASCII or UTF-8");
        return;
    }
    if (!StartsWithHierarchy(data, size))
        return;
    cTokens t(data, size);
    Expect(t, "HIERARCHY", "first");
    Expect(t, "ROOT", "after HIERARCHY");
    const size_t channels = Hierarchy(t);
    Motion(t, channels);
}

} // namespace qvimport
