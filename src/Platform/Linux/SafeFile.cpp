#include "Platform/SafeFile.h"

#include "App/Exceptions.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool WriteAll(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

void WriteFileReplacing(const QString& fileName, const QByteArray& bytes, bool privateFile) {
    const QByteArray target = QFile::encodeName(fileName);
    mode_t mode = 0600;
    if (!privateFile) {
        struct stat st;
        if (::stat(target.constData(), &st) == 0)
            mode = st.st_mode & 07777;
        else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
    }
    QByteArray temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        throw EInOutError(QStringLiteral("Unable to write to %1").arg(fileName));
    bool ok = WriteAll(fd, bytes) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(temp.constData(), target.constData()) != 0) {
        ::unlink(temp.constData());
        throw EInOutError(QStringLiteral("Unable to write to %1").arg(fileName));
    }
}
