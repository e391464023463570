// The user's files as the tools read and write them: a path that is not a
// regular file is named for what it is, two paths are compared as files (not
// as spellings), and a file is written whole or not at all.
#ifndef QV_FILE_H
#define QV_FILE_H

#include <sys/types.h>

#include <string>
#include <vector>

// What a path is when it is not a regular file, for a message: "a FIFO",
// "a directory", "a character device", "a block device", "a socket".
const char* FileKind(mode_t mode);

// Whether two paths name the same file: the same device and inode, so that
// another spelling, a symbolic link or a hard link counts. A path that does
// not exist yet stands for its folder's entry of that name: it is the same
// file as another path to the same folder and name.
bool SameFile(const std::string& a, const std::string& b);

// One file to write: where, and all of its bytes.
struct sFileText
{
    std::string mPath;
    std::string mText;
};

// Writes every file whole, or none of them. Each text goes to a new file in
// its destination's folder, which is flushed to the disk; only when all of
// them are written are they renamed over their destinations, and the folders
// flushed. A destination that is a symbolic link keeps it: the file it points
// to is replaced. A replaced file keeps its permissions; a new one gets the
// usual ones (0666 less the umask). While this runs, a file-size limit fails
// the write instead of ending the program (SIGXFSZ is ignored) and SIGINT,
// SIGTERM, SIGHUP and SIGQUIT wait, so that the temporary files are removed
// whatever happens short of SIGKILL.
//
// On any failure the temporary files are removed, every destination is left
// as it was, and a cQVError says "cannot write 'PATH': REASON". (Should the
// system fail one rename after another succeeded, the files renamed stay
// written.)
void WriteFilesAtomically(const std::vector<sFileText>& files);

// The same for one file.
void WriteFileAtomically(const std::string& path, const std::string& text);

#endif // QV_FILE_H
