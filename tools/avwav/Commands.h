#pragma once
// The commands of avwav. Each one is a row of the command table (Commands.cpp); a new command is
// a function and a row.
#include <QString>
#include <QStringList>

namespace avwav {

struct TCommand {
    const char* Name;
    const char* Usage; // arguments after the name
    const char* Help;  // one line
    // argc/argv for the application object; args: the arguments after the command name.
    int (*Run)(int argc, char** argv, const QStringList& args);
};

// The command line as UTF-8 strings, without the program name.
QStringList Arguments(int argc, char** argv);
const TCommand* FindCommand(const QString& name);
QString Usage();

// Commands.
int Info(int argc, char** argv, const QStringList& args);
int Play(int argc, char** argv, const QStringList& args);
int Decode(int argc, char** argv, const QStringList& args);

// Helpers for commands: messages to stderr prefixed with "avwav: ".
void Error(const QString& message);
// Writes a line to stdout.
void Print(const QString& line);

} // namespace avwav
