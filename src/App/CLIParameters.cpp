#include "App/CLIParameters.h"

#include <memory>

namespace {

std::unique_ptr<TCLIParameters> gCLIParameters;

constexpr int MaxCommandLength = 255;

} // namespace

TCLIParameters::TCLIParameters(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        append(QString::fromLocal8Bit(argv[i]));
}

TCLIParameters& CLIParameters() {
    if (!gCLIParameters)
        gCLIParameters = std::make_unique<TCLIParameters>();
    return *gCLIParameters;
}

void InitCLIParameters(int argc, char** argv) {
    gCLIParameters = std::make_unique<TCLIParameters>(argc, argv);
}

void DoneCLIParameters() {
    gCLIParameters.reset();
}

bool HasCLIWord(const QStringList& arguments, const QString& word) {
    for (const QString& argument : arguments) {
        const qsizetype eq = argument.indexOf(u'=');
        if (eq >= 0 && argument.left(eq).compare(word, Qt::CaseInsensitive) == 0)
            return true;
    }
    return arguments.contains(word, Qt::CaseInsensitive);
}

bool HasCLIWord(const QString& word) {
    return HasCLIWord(CLIParameters(), word);
}

QString ParseUriCommand(const QString& text) {
    if (!text.startsWith(QLatin1String("tarvenox:"), Qt::CaseSensitive))
        return QString();
    // The 11 characters of "tarvenox://" are dropped without looking at them.
    QString command = text.mid(11, MaxCommandLength);
    if (command.endsWith(u'/'))
        command.chop(1);
    return command;
}

QString GetCLIUriCommand(const QStringList& arguments) {
    for (const QString& argument : arguments)
        if (argument.startsWith(QLatin1String("tarvenox:"), Qt::CaseSensitive))
            return ParseUriCommand(argument);
    return QString();
}

QString GetCLIUriCommand() {
    return GetCLIUriCommand(CLIParameters());
}

QString GetUriCommandName(const QString& RawParams) {
    const qsizetype slash = RawParams.indexOf(u'/');
    return slash < 0 ? QString() : RawParams.left(slash);
}

QString GetUriCommandKey(const QString& RawParams) {
    const qsizetype slash = RawParams.indexOf(u'/');
    return RawParams.mid(slash + 1, MaxCommandLength);
}
