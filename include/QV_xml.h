#ifndef _QV_XML_H_
#define _QV_XML_H_

#include <string>

#include <tinyxml.h>

#include "QV_actor.h"
#include "QV_matrix.h"

// Loads an actor file into a default-constructed actor. On any problem with
// the file it ends the process through cQVApp::ExitError with one line
// "EXIT ON ERROR: XML ERROR: " and the detail; it returns only on success.
void LoadActorFromXML(const char* fname, cActor& actor);

// The same loading, but a bad file throws the message ("XML ERROR: " and the
// detail) as a std::string instead of ending the process.
void ReadActorFromXML(const char* fname, cActor& actor);

// The same again on a document held in memory (len bytes of text).
void ReadActorFromMemory(const char* text, size_t len, cActor& actor);

// Reads the twelve comma-separated numbers of a "matrix" element into the
// top three rows of m; throws the message string on an element without text.
void LoadMatrix(TiXmlElement* xml, cMatrix4D& m);

#endif // _QV_XML_H_
