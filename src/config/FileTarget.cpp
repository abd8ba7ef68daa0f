#include "config/FileTarget.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <io.h>
#define ZIRO_FSYNC(fd) ::_commit(fd)
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#define ZIRO_FSYNC(fd) ::fsync(fd)
#endif

namespace FileTarget {

namespace {

const QString NotRegular = QStringLiteral("is not a regular file (a device, a pipe or a socket)");

} // namespace

QString problem(const QString& fileName)
{
    if (fileName.isEmpty())
        return QStringLiteral("no file name");
    const QFileInfo info(fileName);
    if (info.isDir())
        return QStringLiteral("is a folder");
    if (info.exists() && !info.isFile())
        return NotRegular;
    // The temporary copy is made beside the file a symbolic link points at.
    const QFileInfo target(info.isSymLink() && info.exists() ? info.symLinkTarget() : fileName);
    const QFileInfo folder(target.absolutePath());
    if (!folder.isDir())
        return QStringLiteral("no such folder");
    if (info.exists() ? !info.isWritable() || !folder.isWritable() : !folder.isWritable())
        return QStringLiteral("cannot be written");
    return QString();
}

bool read(const QString& fileName, qint64 maxSize, QByteArray* content, QString* error)
{
    content->clear();
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    const QFileInfo info(fileName);
    if (fileName.isEmpty() || !info.exists())
        return fail(QStringLiteral("no such file"));
    if (info.isDir())
        return fail(QStringLiteral("is a folder"));
    if (!info.isFile())
        return fail(NotRegular);
    QFile file;
#ifdef Q_OS_UNIX
    // Opened without blocking, and looked at once open: a pipe put in the file's place
    // after the look above would otherwise wait for a writer.
    const int fd =
        ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(
            QStringLiteral("cannot be read: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return fail(NotRegular);
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(QStringLiteral("cannot be read: %1").arg(file.errorString()));
    }
#else
    file.setFileName(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot be read: %1").arg(file.errorString()));
#endif
    *content = file.read(maxSize + 1);
    if (file.error() != QFileDevice::NoError) {
        content->clear();
        return fail(QStringLiteral("cannot be read: %1").arg(file.errorString()));
    }
    return true;
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
