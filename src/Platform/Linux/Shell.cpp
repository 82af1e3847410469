#include "Platform/ShellSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// A bare name is looked up in the working folder first, then on PATH, as the Windows shell does.
QString ResolveProgram(const QString& File, const QString& WorkingFolder) {
    if (File.isEmpty())
        return File;
    if (!File.contains(QLatin1Char('/'))) {
        if (!WorkingFolder.isEmpty()) {
            const QString local = QDir(WorkingFolder).filePath(File);
            if (QFileInfo(local).isFile())
                return QFileInfo(local).absoluteFilePath();
        }
        const QString found = QStandardPaths::findExecutable(File);
        return found.isEmpty() ? File : found;
    }
    if (QDir::isRelativePath(File) && !WorkingFolder.isEmpty())
        return QFileInfo(QDir(WorkingFolder).filePath(File)).absoluteFilePath();
    return QFileInfo(File).absoluteFilePath();
}

void WriteErrno(int fd, int code) {
    while (::write(fd, &code, sizeof code) < 0 && errno == EINTR) {
    }
}

// Starts Program with Arguments in WorkingFolder. Detached: the program is handed to init through a
// second fork, so nothing is left to reap, and 0 is returned; otherwise the child's pid. A failed exec
// comes back through a close-on-exec pipe, so the caller learns the real error code.
pid_t Spawn(const QString& Program, const QStringList& Arguments, const QString& WorkingFolder, bool Detached) {
    // Everything the child needs is prepared before fork: after it only async-signal-safe calls are allowed.
    const QByteArray program = QFile::encodeName(Program);
    std::vector<QByteArray> args;
    args.push_back(program);
    for (const QString& a : Arguments)
        args.push_back(QFile::encodeName(a));
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const QByteArray folder = QFile::encodeName(WorkingFolder);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw OSError(errno);

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (Detached) {
            const pid_t grandchild = ::fork();
            if (grandchild < 0) {
                WriteErrno(fds[1], errno);
                ::_exit(127);
            }
            if (grandchild > 0)
                ::_exit(0);
            ::setsid();
        }
        sigset_t all;
        ::sigemptyset(&all);
        ::sigprocmask(SIG_SETMASK, &all, nullptr);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        ::sigaction(SIGPIPE, &dfl, nullptr);
        if (!folder.isEmpty() && ::chdir(folder.constData()) != 0) {
            WriteErrno(fds[1], errno);
            ::_exit(127);
        }
        ::execv(program.constData(), argv.data());
        WriteErrno(fds[1], errno);
        ::_exit(127);
    }
    const int forkError = errno;
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        throw OSError(forkError);
    }
    if (Detached)
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    int code = 0;
    ssize_t n;
    while ((n = ::read(fds[0], &code, sizeof code)) < 0 && errno == EINTR) {
    }
    ::close(fds[0]);
    if (n == ssize_t(sizeof code)) {
        if (!Detached)
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        throw OSError(code);
    }
    return Detached ? 0 : pid;
}

} // namespace

EOSError OSError(int Code) {
    return EOSError(QStringLiteral("System Error.  Code: %1.\r\n%2").arg(Code).arg(QString::fromLocal8Bit(std::strerror(Code))),
                    Code);
}

bool SystemShellOpen(const QString& Target) {
    // xdg-open would read a leading "-" as an option.
    const QString target = Target.startsWith(QLatin1Char('-')) ? QStringLiteral("./") + Target : Target;
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty() || target.isEmpty())
        return false;
    try {
        Spawn(opener, {target}, QString(), true);
        return true;
    } catch (const EOSError&) {
        return false;
    }
}

void SystemShellStart(const QString& File, const QStringList& Arguments, const QString& WorkingFolder,
                      TShowMode) {
    if (File.isEmpty())
        throw OSError(ENOENT);
    Spawn(ResolveProgram(File, WorkingFolder), Arguments, WorkingFolder, true);
}

void SystemRunElevatedAndWait(const QString& File, const QStringList& Arguments) {
    if (File.isEmpty())
        throw OSError(ENOENT);
    QString program = ResolveProgram(File, QString());
    QStringList arguments = Arguments;
    if (::geteuid() != 0) {
        // pkexec wants the program's full path.
        const QString pkexec = QStandardPaths::findExecutable(QStringLiteral("pkexec"));
        if (pkexec.isEmpty())
            throw OSError(ENOENT);
        arguments.prepend(program);
        program = pkexec;
    }
    const pid_t pid = Spawn(program, arguments, QString(), false);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}
