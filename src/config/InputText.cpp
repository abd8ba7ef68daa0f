#include "config/InputText.h"

namespace InputText {

QString shown(const QString& text)
{
    if (text.size() <= ShownLength)
        return text;
    return text.left(ShownLength) + QStringLiteral("...");
}

bool isWholeNumber(const QString& text)
{
    qsizetype i = 0;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
        ++i;
    if (i == text.size())
        return false;
    for (; i < text.size(); ++i)
        if (text.at(i) < QLatin1Char('0') || text.at(i) > QLatin1Char('9'))
            return false;
    return true;
}

std::optional<qint64> wholeNumber(const QString& text, qint64 minimum, qint64 maximum, QString* why)
{
    if (!isWholeNumber(text)) {
        if (why)
            *why = QStringLiteral("\"%1\" is not a whole number").arg(shown(text));
        return std::nullopt;
    }
    // Leading zeros do not count; digits beyond 64 bits are outside any range.
    const bool negative = text.startsWith(QLatin1Char('-'));
    qsizetype first = negative || text.startsWith(QLatin1Char('+')) ? 1 : 0;
    while (first < text.size() - 1 && text.at(first) == QLatin1Char('0'))
        ++first;
    bool ok = text.size() - first <= 19;
    qint64 value = ok ? text.mid(first).toLongLong(&ok, 10) : 0;
    if (negative)
        value = -value;
    if (!ok || value < minimum || value > maximum) {
        if (why)
            *why =
                QStringLiteral("%1 is outside %2 to %3").arg(shown(text)).arg(minimum).arg(maximum);
        return std::nullopt;
    }
    return value;
}

} // namespace InputText
