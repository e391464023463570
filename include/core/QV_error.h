#ifndef QV_ERROR_H
#define QV_ERROR_H

#include <stdexcept>
#include <string>

// The one family of failures the libraries report by exception: the actor-file
// reader's (cXmlError), the importer's (qvimport::cImportError) and the
// measuring tools' all derive from cQVError, and each message is one line that
// names the problem, ready to print after the program's name.
class cQVError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A name from a file, made safe for a one-line message: quoted, control
// characters shown as '?', names longer than 40 characters cut short.
std::string QuoteName(const std::string& s);

#endif // QV_ERROR_H
