#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// What the user typed or a file held, as the tool reads and repeats it: one rule for every
// number of the command line, of a command script and of a settings file, and one way to
// show such text in a message.
namespace InputText {

// Input repeated in a message is cut after this many characters.
constexpr int ShownLength = 80;

// The text as a message repeats it: whole up to ShownLength characters, otherwise its
// first ShownLength characters followed by "...".
QString shown(const QString& text);

// A whole number in decimal: an optional sign, then the digits 0 to 9 and nothing else (no
// blank, no line break, no NUL, no other character before, between or after them).
// Leading zeros are allowed.
bool isWholeNumber(const QString& text);

// The whole number that text spells, if it lies within [minimum, maximum]. Otherwise
// nothing, and *why (if given) says what is wrong, repeating the text as shown():
// "\"12x\" is not a whole number", "300 is outside 0 to 255".
std::optional<qint64> wholeNumber(const QString& text, qint64 minimum, qint64 maximum,
                                  QString* why = nullptr);

} // namespace InputText
