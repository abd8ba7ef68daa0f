#include "config/FileTarget.h"

#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <io.h>
#define ZIRO_FSYNC(fd) ::_commit(fd)
#else
#include <unistd.h>
#define ZIRO_FSYNC(fd) ::fsync(fd)
#endif

namespace FileTarget {

QString problem(const QString& fileName)
{
    if (fileName.isEmpty())
        return QStringLiteral("no file name");
    const QFileInfo info(fileName);
    if (info.isDir())
        return QStringLiteral("is a folder");
    if (info.exists() && !info.isFile())
        return QStringLiteral("is not a regular file (a device, a pipe or a socket)");
    // The temporary copy is made beside the file a symbolic link points at.
    const QFileInfo target(info.isSymLink() && info.exists() ? info.symLinkTarget() : fileName);
    const QFileInfo folder(target.absolutePath());
    if (!folder.isDir())
        return QStringLiteral("no such folder");
    if (info.exists() ? !info.isWritable() || !folder.isWritable() : !folder.isWritable())
        return QStringLiteral("cannot be written");
    return QString();
}

bool writeAll(QFileDevice& file, const QByteArray& bytes, QString* error)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        // After a short write the next one says why (a full disk, a file too large).
        const qint64 written = file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0) {
            if (error)
                *error = file.error() != QFileDevice::NoError
                             ? file.errorString()
                             : QStringLiteral("the file took %1 of %2 bytes")
                                   .arg(done)
                                   .arg(bytes.size());
            return false;
        }
        done += written;
    }
    return true;
}

bool replace(const QString& fileName, const QByteArray& content, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    const QString why = problem(fileName);
    if (!why.isEmpty())
        return fail(why);
    // Unbuffered, so that every write reports what reached the file: a buffered write may
    // fail unseen when the buffer is flushed on commit.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(file.errorString());
    QString reason;
    if (!writeAll(file, content, &reason)) {
        file.cancelWriting();
        return fail(reason);
    }
    // A file system may report a full disk only when the data goes to the disk.
    if (!file.flush() || ZIRO_FSYNC(file.handle()) != 0) {
        const QString reason = file.error() != QFileDevice::NoError
                                   ? file.errorString()
                                   : QString::fromLocal8Bit(std::strerror(errno));
        file.cancelWriting();
        return fail(reason);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

} // namespace FileTarget
