#include "config/FileKind.h"

#include "config/FileTarget.h"
#include "config/SettingsFile.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace FileKind {

namespace {

// A file the tool writes over is looked at no further than this.
constexpr qint64 LookLimit = SettingsFile::MaxFileSize;

bool readsAsPage(const QByteArray& text)
{
    const QByteArray head = text.left(64).toLower();
    return head.startsWith("<!doctype html") || head.startsWith("<html");
}

bool readsAsScript(const QByteArray& text)
{
    static const QRegularExpression command(QStringLiteral("^([A-Za-z]+)\\s+[-+0-9]"));
    bool commands = false;
    for (const QByteArray& raw : text.split('\n')) {
        QString line = QString::fromLatin1(raw);
        const qsizetype comment = line.indexOf(QStringLiteral("//"));
        if (comment >= 0)
            line.truncate(comment);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const QRegularExpressionMatch match = command.match(line);
        if (!match.hasMatch())
            return false;
        const QString name = match.captured(1).toUpper();
        commands = commands || name == QLatin1String("SAP") || name == QLatin1String("STAP");
    }
    return commands;
}

} // namespace

Kind of(const QByteArray& content)
{
    QByteArray text = content.startsWith("\xEF\xBB\xBF") ? content.mid(3) : content;
    text = text.trimmed();
    if (text.isEmpty())
        return Kind::None;
    if (text.contains('\0'))
        return Kind::Other;
    if (readsAsPage(text))
        return Kind::Page;
    if (readsAsScript(text))
        return Kind::Script;
    if (SettingsFile::readsAsSettings(text))
        return Kind::Settings;
    return Kind::Other;
}

QString describe(Kind kind)
{
    switch (kind) {
    case Kind::None:
        return QStringLiteral("an empty file");
    case Kind::Settings:
        return QStringLiteral("a settings file");
    case Kind::Script:
        return QStringLiteral("a command script");
    case Kind::Page:
        return QStringLiteral("an HTML page");
    case Kind::Other:
        break;
    }
    return QStringLiteral("another file");
}

QString targetProblem(const QString& fileName, Kind writes, bool force)
{
    const QString problem = FileTarget::problem(fileName);
    if (!problem.isEmpty() || force || !QFileInfo::exists(fileName))
        return problem;
    QByteArray content;
    QString why;
    if (!FileTarget::read(fileName, LookLimit, &content, &why))
        return why;
    const Kind found = of(content);
    if (found == Kind::None || found == Kind::Other || found == writes)
        return QString();
    return QStringLiteral("reads as %1").arg(describe(found));
}

} // namespace FileKind
