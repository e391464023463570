#ifndef QV_XML_H
#define QV_XML_H

#include <cstddef>
#include <stdexcept>
#include <string>

#include <tinyxml.h>

#include "QV_actor.h"
#include "QV_error.h"
#include "QV_matrix.h"

// What the reader throws for a file it cannot turn into a consistent actor.
// what() is the one-line message: "XML ERROR: " and the detail.
class cXmlError : public cQVError
{
public:
    using cQVError::cQVError;
};

// Reads an actor file into a default-constructed actor. Only a regular file
// is read: a FIFO, a device or a directory is refused before it is opened,
// so reading never blocks. A bad file throws
// cXmlError; the actor may then be partly filled: discard it. (The demo's
// LoadActorFromXML, in the application layer, turns that into the one
// "EXIT ON ERROR: " line.)
void ReadActorFromXML(const char* fname, cActor& actor);

// The same again on a document held in memory (len bytes of text).
void ReadActorFromMemory(const char* text, size_t len, cActor& actor);

// The root's rest matrix as the library uses it: the file's matrix turned by
// -90 degrees about x, which carries the file's up axis +z onto +y.
cMatrix4D UprightRootRest(const cMatrix4D& fileRest);

// Reads the twelve comma-separated numbers of a "matrix" element into the
// top three rows of m (row by row) and leaves the bottom row alone. Throws
// cXmlError on an element without text or with fewer than twelve
// fields. The fields are read from one stream in turn: a field that is not a
// number gives 0, and its unread characters make every later field give 0.
void LoadMatrix(TiXmlElement* xml, cMatrix4D& m);

// Limits of what the loader accepts; real actor files stay far below them.
#define XML_MAX_FILE_BYTES (64u << 20) // size of the file
#define XML_MAX_NESTING 256u           // depth of nested elements
#define XML_MAX_ITEMS 4000000u         // elements, texts, comments and attributes
#define XML_MAX_ATTRIBUTES 32u         // attributes on one element
#define XML_MAX_BONES 100000u          // bones in a skeleton
#define XML_MAX_KEYS 100000u           // keys in one channel
#define XML_MAX_HIERARCHY_DEPTH 10000u // levels of the bone tree
#define XML_MAX_ROOT_HEIGHT 1000000.0  // size of a key's root height 'h

// Limits on the values, so that no pose of an accepted file can carry a world
// matrix into infinities or not-a-numbers (docs/actor-file.md gives the
// reasons for the figures).
#define XML_QUAT_TOLERANCE 0.01 // a key's quaternion has length 1 within this
#define XML_MAX_STRETCH 1.0e6   // how far a rest matrix, or a chain of them, may stretch a vector
#define XML_MAX_REACH 1.0e6     // units any bone's head or tail may lie from the root's origin
// How far the root's height 'h' may lift or sink the figure, in multiples of
// its size (the farthest a bone's head or tail can lie from the root's head).
#define XML_MAX_ROOT_HEIGHT_PER_SIZE 100.0

// What the walk over a document's markup found before it is parsed. The walk
// follows TinyXML's parser step by step, without building anything, so that
// a document that would exhaust the parser's stack or memory is refused
// first. It stops early once a limit is passed.
struct sXmlMarkup
{
    size_t mDepth = 0;          // deepest element nesting reached
    size_t mItems = 0;          // elements, texts, comments, other nodes and attributes
    size_t mMaxAttributes = 0;  // most attributes on one element
    size_t mElements = 0;       // elements
    bool mDocumentType = false; // a <!DOCTYPE ...> or a DTD declaration (<!ENTITY ...> and the like) was met
};

// The document text as the parser is given it: up to the first NUL byte,
// each CR LF pair or lone CR turned into LF (as TinyXML's file loading does),
// followed by eight NUL bytes.
std::string PrepareXmlText(const char* text, size_t len);

// Walks the NUL-terminated document text (padded with at least eight more
// NUL bytes) as TinyXML's parser would.
sXmlMarkup ScanXmlMarkup(const char* text);

#endif // QV_XML_H
