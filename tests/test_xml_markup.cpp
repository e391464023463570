// The markup walk that runs before parsing: it must see exactly the element
// nesting TinyXML's parser builds, including where the parser's lexical
// rules (entities, quotes, comments, CDATA, character encodings) hide or
// reveal markup, so that deep documents are refused and good ones are not.

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "../fuzz/xml_tree_depth.h"
#include "QV_xml.h"

namespace
{

size_t ParsedDepth(const std::string& text)
{
    TiXmlDocument doc;
    doc.Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
    return XmlTreeDepth(&doc);
}

size_t WalkedDepth(const std::string& text)
{
    const std::string prepared = PrepareXmlText(text.data(), text.size());
    return ScanXmlMarkup(prepared.c_str()).mDepth;
}

struct sDoc
{
    const char* mName;
    std::string mText;
    size_t mDepth; // as the parser builds it
};

void PrintTo(const sDoc& d, std::ostream* os) { *os << d.mName; }

class XmlMarkupWalk : public ::testing::TestWithParam<sDoc>
{
};

} // namespace

TEST_P(XmlMarkupWalk, SeesTheNestingTheParserBuilds)
{
    const sDoc& d = GetParam();
    ASSERT_EQ(ParsedDepth(d.mText), d.mDepth) << "the parser itself changed";
    EXPECT_EQ(WalkedDepth(d.mText), d.mDepth);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, XmlMarkupWalk,
    ::testing::Values(
        sDoc{"Plain", "<a><b/><c><d/></c></a>", 3}, sDoc{"EndTagInQuotes", "<a x=\"</a>\"><b/></a>", 2},
        sDoc{"UnquotedValue", "<a x=1><b><c/></b></a>", 3}, sDoc{"EndTagWithBlank", "<a><b></b ><c/></a >", 2},
        sDoc{"MarkupInComment", "<a><!-- <b><c> --></a>", 1}, sDoc{"MarkupInCData", "<a><![CDATA[<b><c>]]></a>", 1},
        sDoc{"CharacterReferenceSpanningAnEndTag", "<a>&#</a>#1;<b/></a>", 2},
        sDoc{"EndTagAfterBrokenReference", "<a>&#x</a><b/>", 1},
        // With UTF-8 (the default after a declaration without encoding) a
        // lead byte takes the next three bytes with it: the end tag is eaten.
        sDoc{"Utf8LeadByteEatsAnEndTag", "<?xml version=\"1.0\"?><a>x\xF0</a><b/></a>", 2},
        sDoc{"LegacyEncodingKeepsIt", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>x\xF0</a><b/></a>", 1},
        sDoc{"ByteOrderMarkMeansUtf8", "\xEF\xBB\xBF<a>x\xF0</a><b/></a>", 2},
        sDoc{"UnknownNodeEndsAtFirstBracket", "<a><!DOCTYPE x <b>><c/></a>", 2},
        sDoc{"MismatchedEndTagStops", "<a><b></a><c><d/></c></b></a>", 2}, sDoc{"Unclosed", "<a><b><c>", 3}),
    [](const ::testing::TestParamInfo<sDoc>& info) { return std::string(info.param.mName); });

TEST(XmlMarkupWalkLimits, StopsCountingOncePastALimit)
{
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<a>";
    const std::string prepared = PrepareXmlText(deep.data(), deep.size());
    const sXmlMarkup m = ScanXmlMarkup(prepared.c_str());
    EXPECT_EQ(m.mDepth, XML_MAX_NESTING + 1);
}

TEST(XmlMarkupWalkLimits, PreparedTextFollowsFileLoading)
{
    // CR LF and lone CR become LF; the text ends at the first NUL byte.
    const char raw[] = "a\r\nb\rc\0d";
    const std::string prepared = PrepareXmlText(raw, sizeof raw - 1);
    EXPECT_EQ(std::string(prepared.c_str()), "a\nb\nc");
    EXPECT_GE(prepared.size(), std::string("a\nb\nc").size() + 8);
}
