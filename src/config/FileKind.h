#pragma once

#include <QByteArray>
#include <QString>

// What a file the tool is about to write over holds: one of the tool's own kinds of file
// (a settings file, a command script, an HTML page such as the commissioning record) or
// something else. Every writer keeps to its own kind: a recording or a record never takes
// the place of a golden settings file or a script by a slip of the file name.
namespace FileKind {

enum class Kind
{
    // No file yet, or one with nothing but blanks in it.
    None,
    Settings,
    Script,
    Page,
    // A recording (CSV) or any other file.
    Other
};

// What content reads as. A page starts (after a byte order mark and blanks) with an HTML
// document type or <html>; a script has SAP or STAP command lines and nothing but command
// lines, comments ("//") and empty lines; a settings file reads as one by
// SettingsFile::readsAsSettings.
Kind of(const QByteArray& content);
// "a settings file", "a command script", "an HTML page", "another file", "an empty file".
QString describe(Kind kind);

// Why a writer of `writes` must not put its file at fileName: FileTarget::problem(), or
// the file exists and reads as one of the tool's kinds other than `writes` ("reads as a
// command script"). Any other file is the writer's to replace (a settings export merges
// only into a settings file: SettingsFile::targetProblem). With force, only
// FileTarget::problem() counts. A file that cannot be read is refused with the reason.
QString targetProblem(const QString& fileName, Kind writes, bool force = false);

} // namespace FileKind
