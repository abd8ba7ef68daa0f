#pragma once

#include <QByteArray>
#include <QString>

class QFileDevice;

// A file the tool writes: an exported settings file or script, a recording of live values.
// Only a regular file, or a new one in an existing folder, takes such a file: never a
// folder, a device (the module's own port among them), a pipe or a socket. A file is
// replaced through a temporary copy in the same folder, put in its place only when every
// byte of it was written, so that a full disk or any other write error leaves the old file
// as it was and no half-written one.
namespace FileTarget {

// Why fileName cannot take a file the tool writes ("is a folder", "no such folder", "is
// not a regular file", "cannot be written"); empty when it can.
QString problem(const QString& fileName);

// Reads a file the tool takes in (a settings file, a command script): only a regular file,
// opened without blocking, so that a pipe, a device or a socket is refused at once rather
// than waited on. At most maxSize + 1 bytes are read, so that the caller can tell a file
// that is too large. false, with the reason in *error ("no such file", "is a folder", "is
// not a regular file (a device, a pipe or a socket)", "cannot be read: ..."), otherwise.
bool read(const QString& fileName, qint64 maxSize, QByteArray* content, QString* error);

// Writes content to fileName in place of what it holds: into a temporary file beside it,
// every write and the flush to the disk checked, then renamed over it. An existing file
// keeps its permissions; a symbolic link is followed. false, with the reason in *error
// (if given), when any step fails: the file is then exactly as it was and nothing is left
// behind.
bool replace(const QString& fileName, const QByteArray& content, QString* error = nullptr);

// Writes all of bytes to an open file that is unbuffered, so that each write tells what
// reached the file. false, with the reason in *error (if given), when not every byte did.
bool writeAll(QFileDevice& file, const QByteArray& bytes, QString* error = nullptr);

} // namespace FileTarget
