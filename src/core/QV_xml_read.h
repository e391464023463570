// What the actor-file reader's units (QV_xml.cpp, QV_xml_body.cpp) share:
// the refusal and the checked reading of attributes. Not part of the core's
// interface.
#ifndef QV_XML_READ_H
#define QV_XML_READ_H

#include <string>

#include <tinyxml.h>

class cActor;

namespace xmlread
{

// Throws cXmlError with "XML ERROR: " and the detail.
[[noreturn]] void Fail(const std::string& detail);

// The attribute's text or number; an absent attribute fails with message.
const char* RequireText(TiXmlElement* e, const char* attr, const char* message);
double RequireNumber(TiXmlElement* e, const char* attr, const char* message);

// A count or a time: the value truncated toward zero, which must lie in
// 0 ... max. False for anything else (not finite, out of range).
bool TruncateInRange(double v, double max, double& out);

// The double as a float, false when it is not finite or beyond the float range.
bool ToFloat(double v, float& out);

// Reads the optional body of the document into the actor, whose armature
// is linked: parse, check, BindBody (QV_xml_body.cpp). Nothing without one.
void ReadBody(TiXmlDocument& doc, cActor& actor);

} // namespace xmlread

#endif // QV_XML_READ_H
