// A stand-in for the DOSBox component: it does what the launcher relies on and nothing else.
//
//   dosbox [options] [PROGRAM]     options as DOSBox takes them; -conf FILE may be given several times
//   dosbox-zeb [options] [PROGRAM] the debugger build: logs file opens and shows "DOSBox Debugger"
//
// The configuration comes from every -conf file in order, or else from "dosbox.conf" in the working
// folder (or, when there is none, in the program's folder). Its [log] section gives "logfile" and "files"; with files=true the debugger build appends one
// line per opened file, "<10-digit counter>: FILES:file open command 0 file <NAME>".
//
// What the "game" does comes from "standin.script" in the program's folder (or the working folder),
// one command a line:
//   open NAME           open a file of the game (logged as above)
//   sleep MS            wait
//   score BOARD VALUE   write .meta/BOARD.se with VALUE as a 32-bit little-endian integer
//   event NAME          write .meta/NAME.ae
//   stay                keep running after the script (until the window is closed or the process ends)
//   exit CODE           end now with CODE
// Lines starting with "#" are comments.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTextStream>
#include <QTimer>
#include <QtEndian>

#include <cstdio>
#include <memory>

namespace {

struct TLogSettings {
    QString LogFile;
    bool Files = false;
};

// DOSBox configuration files: [section] headers, key=value lines, "#" comments; names ignore case.
void ReadLogSection(const QString& path, TLogSettings& settings) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    QString section;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed().toLower();
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (section != QLatin1String("log") || eq < 0)
            continue;
        const QString key = line.left(eq).trimmed().toLower();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("logfile"))
            settings.LogFile = value;
        else if (key == QLatin1String("files"))
            settings.Files = QStringList{QStringLiteral("true"), QStringLiteral("1"), QStringLiteral("yes"), QStringLiteral("on")}
                                 .contains(value.toLower());
    }
}

bool IsPlainName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") && !name.contains(QLatin1Char('/')) &&
           !name.contains(QLatin1Char('\\'));
}

class TStandIn {
public:
    TStandIn(QString gameDir, QStringList script, bool debugger, const TLogSettings& log)
        : FGameDir(std::move(gameDir)), FScript(std::move(script)), FDebugger(debugger) {
        if (FDebugger && log.Files && !log.LogFile.isEmpty()) {
            FLog.setFileName(log.LogFile);
            if (!FLog.open(QIODevice::WriteOnly | QIODevice::Append))
                std::fprintf(stderr, "dosbox: cannot open log %s\n", qPrintable(log.LogFile));
        }
        if (FDebugger) {
            FWindow = std::make_unique<QPlainTextEdit>();
            FWindow->setReadOnly(true);
            FWindow->setWindowTitle(QStringLiteral("DOSBox Debugger"));
            FWindow->resize(640, 400);
            FWindow->show();
        }
    }

    void Run() { QTimer::singleShot(0, [this] { Step(); }); }

private:
    void Step() {
        while (FNext < FScript.size()) {
            const QString line = FScript.at(FNext++).trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
                continue;
            const QString command = line.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty).toLower();
            const QString rest = line.section(QLatin1Char(' '), 1, -1, QString::SectionSkipEmpty);
            const QStringList words = rest.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (command == QLatin1String("sleep")) {
                QTimer::singleShot(qMax(0, rest.toInt()), [this] { Step(); });
                return;
            }
            if (command == QLatin1String("open"))
                Open(rest);
            else if (command == QLatin1String("score") && words.size() == 2 && IsPlainName(words[0]))
                WriteMeta(words[0] + QStringLiteral(".se"), LittleEndian32(words[1].toInt()));
            else if (command == QLatin1String("event") && words.size() == 1 && IsPlainName(words[0]))
                WriteMeta(words[0] + QStringLiteral(".ae"), "1");
            else if (command == QLatin1String("stay"))
                FStay = true;
            else if (command == QLatin1String("exit")) {
                QCoreApplication::exit(rest.toInt());
                return;
            } else
                std::fprintf(stderr, "dosbox: unknown script line: %s\n", qPrintable(line));
        }
        if (!FStay)
            QCoreApplication::exit(0);
    }

    static QByteArray LittleEndian32(qint32 v) {
        QByteArray b(4, Qt::Uninitialized);
        qToLittleEndian<qint32>(v, b.data());
        return b;
    }

    void Open(const QString& name) {
        QFile data(QDir(FGameDir).filePath(name));
        data.open(QIODevice::ReadOnly);  // a missing file is still an open attempt the log reports
        ++FOpenCount;
        const QString line = QStringLiteral("%1: FILES:file open command 0 file %2").arg(FOpenCount * 1000, 10).arg(name);
        if (FLog.isOpen()) {
            FLog.write(line.toUtf8() + '\n');
            FLog.flush();
        }
        if (FWindow)
            FWindow->appendPlainText(line);
    }

    void WriteMeta(const QString& name, const QByteArray& bytes) {
        const QString folder = QDir(FGameDir).filePath(QStringLiteral(".meta"));
        QDir().mkpath(folder);
        QFile f(folder + QLatin1Char('/') + name);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(bytes);
    }

    QString FGameDir;
    QStringList FScript;
    bool FDebugger;
    qsizetype FNext = 0;
    bool FStay = false;
    int FOpenCount = 0;
    QFile FLog;
    std::unique_ptr<QPlainTextEdit> FWindow;
};

}  // namespace

int main(int argc, char** argv) {
    const QString self = QFile::decodeName(argv[0]);
    const bool debugger = QFileInfo(self).fileName().startsWith(QLatin1String("dosbox-zeb"), Qt::CaseInsensitive);

    QStringList confs;
    QString program;
    // DOSBox options that take a value; every other "-" word is a switch.
    const QStringList withValue = {QStringLiteral("-conf"),    QStringLiteral("-c"),        QStringLiteral("-lang"),
                                   QStringLiteral("-machine"), QStringLiteral("-editconf"), QStringLiteral("-opencaptures"),
                                   QStringLiteral("-socket"),  QStringLiteral("-set")};
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (a.startsWith(QLatin1Char('-'))) {
            const QString option = a.toLower();
            if (withValue.contains(option) && i + 1 < argc) {
                const QString value = QString::fromLocal8Bit(argv[++i]);
                if (option == QLatin1String("-conf"))
                    confs << value;
            }
            continue;
        }
        if (program.isEmpty())
            program = a;
    }

    QString gameDir = QDir::currentPath();
    if (!program.isEmpty()) {
        const QFileInfo p(program);
        gameDir = p.isDir() ? p.absoluteFilePath() : p.absolutePath();
    }

    // Like DOSBox: without -conf, "dosbox.conf" of the working folder; failing that, the game's own.
    TLogSettings log;
    if (confs.isEmpty())
        confs << (QFileInfo::exists(QStringLiteral("dosbox.conf")) ? QStringLiteral("dosbox.conf")
                                                                     : QDir(gameDir).filePath(QStringLiteral("dosbox.conf")));
    for (const QString& c : confs)
        ReadLogSection(c, log);
    QStringList script;
    QFile scriptFile(QDir(gameDir).filePath(QStringLiteral("standin.script")));
    if (scriptFile.open(QIODevice::ReadOnly | QIODevice::Text))
        script = QString::fromUtf8(scriptFile.readAll()).split(QLatin1Char('\n'));

    std::unique_ptr<QCoreApplication> app;
    if (debugger) {
        // The window needs a platform; without a display it still opens, off screen.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
            qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    TStandIn standIn(gameDir, script, debugger, log);
    standIn.Run();
    return app->exec();
}
