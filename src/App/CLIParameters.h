#pragma once

#include <QStringList>

// The process's command-line arguments, without the program's own path (argument 0).
class TCLIParameters : public QStringList {
public:
    TCLIParameters() = default;
    TCLIParameters(int argc, char** argv);
    explicit TCLIParameters(const QStringList& arguments) : QStringList(arguments) {}
};

// The run's instance: made by InitCLIParameters at start-up, freed by DoneCLIParameters. Before that it
// is an empty list.
TCLIParameters& CLIParameters();
void InitCLIParameters(int argc, char** argv);
void DoneCLIParameters();

// True when some argument, or the part of some argument before its first "=", equals the word, ignoring
// letter case. The position of the argument does not matter.
bool HasCLIWord(const QString& word);
bool HasCLIWord(const QStringList& arguments, const QString& word);

// The command text of the first "tarvenox:" argument (see ParseUriCommand); empty when there is none.
QString GetCLIUriCommand();
QString GetCLIUriCommand(const QStringList& arguments);

// For a text beginning with exactly "tarvenox:": the text without its first 11 characters, cut to 255,
// without one trailing "/". Empty for any other text.
QString ParseUriCommand(const QString& text);

// The part of a command text before its first "/"; empty when it holds none.
QString GetUriCommandName(const QString& RawParams);
// The part after the first "/" (all of it when it holds none), at most 255 characters.
QString GetUriCommandKey(const QString& RawParams);
