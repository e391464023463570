#include "QV_xml.h"

#include <string>

#include "QV_app.h"

// Placeholder until the loader lands.
void ReadActorFromMemory(const char*, size_t, cActor&) { throw std::string("XML ERROR: not implemented"); }
void ReadActorFromXML(const char*, cActor&) { throw std::string("XML ERROR: not implemented"); }
void LoadMatrix(TiXmlElement*, cMatrix4D&) {}

void LoadActorFromXML(const char* fname, cActor& actor)
{
    try
    {
        ReadActorFromXML(fname, actor);
    }
    catch (const std::string& msg)
    {
        cQVApp::ExitError(msg.c_str());
    }
}
