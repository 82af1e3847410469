#include "Platform/DirMove.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct TCancelled {};

QByteArray Native(const QString& path) { return QFile::encodeName(path); }

QString ErrorText(const QString& what, const QString& path, int code) {
    return QStringLiteral("%1 \"%2\": %3").arg(what, path, QString::fromLocal8Bit(std::strerror(code)));
}

bool LStat(const QString& path, struct stat& st) { return ::lstat(Native(path).constData(), &st) == 0; }

// Names inside a folder, hidden ones included; links are listed, never entered.
QStringList EntryNames(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

qint64 TreeSize(const QString& path) {
    struct stat st {};
    if (!LStat(path, st))
        return 0;
    if (!S_ISDIR(st.st_mode))
        return S_ISREG(st.st_mode) ? qint64(st.st_size) : 0;
    qint64 total = 0;
    for (const QString& name : EntryNames(path))
        total += TreeSize(path + u'/' + name);
    return total;
}

// The absolute, cleaned name with the part that exists resolved through links.
QString ResolvedName(const QString& path) {
    QString rest;
    QString existing = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    while (!QFileInfo::exists(existing) && existing != QStringLiteral("/")) {
        const int cut = int(existing.lastIndexOf(u'/'));
        rest = existing.mid(cut) + rest;
        existing = cut > 0 ? existing.left(cut) : QStringLiteral("/");
    }
    QString canonical = QFileInfo(existing).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = existing;
    return QDir::cleanPath(canonical + rest);
}

} // namespace

bool IsSameOrInsideFolder(const QString& Inner, const QString& Outer) {
    const QString inner = ResolvedName(Inner);
    const QString outer = ResolvedName(Outer);
    if (inner == outer)
        return true;
    return inner.startsWith(outer == QStringLiteral("/") ? outer : outer + u'/');
}

struct TDirMove::TState {
    TDirMove& Owner;
    TResult& Result;
    qint64 Done = 0;
    qint64 Total = 0;

    void Progress(qint64 bytes) {
        Done += bytes;
        if (Owner.OnProgress)
            Owner.OnProgress(Done, Total);
    }
    void CheckCancel() const {
        if (Owner.CancelRequested())
            throw TCancelled{};
    }

    // Moves Source to Target (its new full name). False when something stayed behind.
    bool MoveEntry(const QString& source, const QString& target, bool sameDevice) {
        CheckCancel();
        struct stat src {};
        if (!LStat(source, src)) {
            Result.Errors << ErrorText(QStringLiteral("Can't read"), source, errno);
            return false;
        }
        struct stat dst {};
        const bool taken = LStat(target, dst);
        if (!taken && sameDevice) {
            if (::rename(Native(source).constData(), Native(target).constData()) == 0) {
                Progress(TreeSize(target));
                return true;
            }
            if (errno != EXDEV) {
                Result.Errors << ErrorText(QStringLiteral("Can't move"), source, errno);
                return false;
            }
            sameDevice = false;
        }
        if (S_ISDIR(src.st_mode)) {
            if (taken && !S_ISDIR(dst.st_mode)) {
                // A folder never replaces a file or link, nor the other way round.
                return Conflict(source, target, false);
            }
            return MoveFolder(source, target, src, taken, sameDevice);
        }
        if (taken) {
            if (S_ISDIR(dst.st_mode))
                return Conflict(source, target, false);
            if (!Conflict(source, target, true))
                return false;
        }
        if (sameDevice) {
            // Replacing on one file system: one atomic step, the source is never without a name.
            if (::rename(Native(source).constData(), Native(target).constData()) == 0) {
                Progress(S_ISREG(src.st_mode) ? qint64(src.st_size) : 0);
                return true;
            }
            if (errno != EXDEV) {
                Result.Errors << ErrorText(QStringLiteral("Can't move"), source, errno);
                return false;
            }
        }
        return CopyThenDelete(source, target, src);
    }

    // False when the entry stays (skipped or not replaceable); true when it may be replaced.
    bool Conflict(const QString& source, const QString& target, bool replaceable) {
        TConflictAnswer answer = TConflictAnswer::Skip;
        if (Owner.OnConflict)
            answer = Owner.OnConflict(source, target);
        CheckCancel();
        if (answer == TConflictAnswer::Replace && replaceable)
            return true;
        if (answer == TConflictAnswer::Replace)
            Result.Errors << QStringLiteral("Can't replace \"%1\" with \"%2\"").arg(target, source);
        else
            Result.Skipped << source;
        Progress(TreeSize(source));
        return false;
    }

    bool MoveFolder(const QString& source, const QString& target, const struct stat& src, bool exists,
                    bool sameDevice) {
        if (!exists && ::mkdir(Native(target).constData(), src.st_mode & 07777) != 0) {
            Result.Errors << ErrorText(QStringLiteral("Can't create"), target, errno);
            return false;
        }
        bool all = true;
        for (const QString& name : EntryNames(source))
            all = MoveEntry(source + u'/' + name, target + u'/' + name, sameDevice) && all;
        if (!all)
            return false;
        if (::rmdir(Native(source).constData()) != 0) {
            Result.Errors << ErrorText(QStringLiteral("Can't remove"), source, errno);
            return false;
        }
        return true;
    }

    // A free name beside Target for the copy in progress.
    QString PartName(const QString& target) const {
        for (;;) {
            const QString name = target + QStringLiteral(".part-%1").arg(qulonglong(QRandomGenerator::global()->generate()), 8, 16, QChar(u'0'));
            struct stat st {};
            if (!LStat(name, st))
                return name;
        }
    }

    bool CopyThenDelete(const QString& source, const QString& target, const struct stat& src) {
        const QString part = PartName(target);
        const QByteArray partName = Native(part);
        if (S_ISLNK(src.st_mode)) {
            QByteArray link(4096, '\0');
            const ssize_t n = ::readlink(Native(source).constData(), link.data(), size_t(link.size()));
            if (n < 0 || ::symlink(QByteArray(link.constData(), n).constData(), partName.constData()) != 0) {
                Result.Errors << ErrorText(QStringLiteral("Can't copy the link"), source, errno);
                return false;
            }
        } else if (S_ISREG(src.st_mode)) {
            if (!CopyFile(source, part, src))
                return false;
        } else {
            Result.Errors << QStringLiteral("Can't move the special file \"%1\"").arg(source);
            return false;
        }
        if (::rename(partName.constData(), Native(target).constData()) != 0) {
            Result.Errors << ErrorText(QStringLiteral("Can't move"), source, errno);
            ::unlink(partName.constData());
            return false;
        }
        if (::unlink(Native(source).constData()) != 0) {
            // Both copies stay: the move is reported incomplete rather than losing either.
            Result.Errors << ErrorText(QStringLiteral("Can't remove"), source, errno);
            return false;
        }
        return true;
    }

    bool CopyFile(const QString& source, const QString& part, const struct stat& src) {
        const int in = ::open(Native(source).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (in < 0) {
            Result.Errors << ErrorText(QStringLiteral("Can't read"), source, errno);
            return false;
        }
        const int out = ::open(Native(part).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (out < 0) {
            Result.Errors << ErrorText(QStringLiteral("Can't create"), part, errno);
            ::close(in);
            return false;
        }
        auto fail = [&](const QString& what, const QString& path, int code) {
            ::close(in);
            ::close(out);
            ::unlink(Native(part).constData());
            Result.Errors << ErrorText(what, path, code);
            return false;
        };
        std::vector<char> buffer(1 << 20);
        for (;;) {
            if (Owner.CancelRequested()) {
                ::close(in);
                ::close(out);
                ::unlink(Native(part).constData());
                throw TCancelled{};
            }
            const ssize_t n = ::read(in, buffer.data(), buffer.size());
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return fail(QStringLiteral("Can't read"), source, errno);
            }
            if (n == 0)
                break;
            for (ssize_t written = 0; written < n;) {
                const ssize_t w = ::write(out, buffer.data() + written, size_t(n - written));
                if (w < 0) {
                    if (errno == EINTR)
                        continue;
                    return fail(QStringLiteral("Can't write"), part, errno);
                }
                written += w;
            }
            Progress(n);
        }
        const struct timespec times[2] = {src.st_atim, src.st_mtim};
        ::futimens(out, times);
        ::fchmod(out, src.st_mode & 07777);
        if (::fsync(out) != 0)
            return fail(QStringLiteral("Can't write"), part, errno);
        ::close(in);
        if (::close(out) != 0) {
            ::unlink(Native(part).constData());
            Result.Errors << ErrorText(QStringLiteral("Can't write"), part, errno);
            return false;
        }
        return true;
    }
};

TDirMove::TResult TDirMove::Run(const QString& Source, const QString& Target) {
    TResult result;
    TState state{*this, result};
    const QString source = QDir::cleanPath(QFileInfo(Source).absoluteFilePath());
    const QString target = QDir::cleanPath(QFileInfo(Target).absoluteFilePath());
    struct stat st {};
    if (!LStat(source, st)) {
        // Nothing was ever put there: moving nothing is complete once the target exists.
        result.Complete = errno == ENOENT && QDir().mkpath(target);
        if (!result.Complete)
            result.Errors << QStringLiteral("Can't use \"%1\" or \"%2\"").arg(Source, Target);
        return result;
    }
    if (!S_ISDIR(st.st_mode)) {
        result.Errors << QStringLiteral("Not a folder: \"%1\"").arg(Source);
        return result;
    }
    if (IsSameOrInsideFolder(target, source)) {
        result.Errors << QStringLiteral("\"%1\" is inside \"%2\"").arg(Target, Source);
        return result;
    }
    if (!QDir().mkpath(target)) {
        result.Errors << QStringLiteral("Can't create \"%1\"").arg(Target);
        return result;
    }
    struct stat dst {};
    const bool sameDevice = ::stat(Native(target).constData(), &dst) == 0 && dst.st_dev == st.st_dev;
    state.Total = TreeSize(source);
    bool all = true;
    try {
        for (const QString& name : EntryNames(source))
            all = state.MoveEntry(source + u'/' + name, target + u'/' + name, sameDevice) && all;
    } catch (const TCancelled&) {
        result.Cancelled = true;
        all = false;
    }
    result.Complete = all && result.Errors.isEmpty() && result.Skipped.isEmpty();
    return result;
}
