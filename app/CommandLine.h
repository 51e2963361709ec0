#pragma once
// The wizard's command line, read in one place before any window exists: --help and --version
// answer without a display. A new option is a field of TCommandLine and its lines in
// ParseCommandLine.
#include <QStringList>

#include <optional>

struct TCommandLine {};

// Reads the arguments (the program's name first) into options. Returns the exit code when the
// program ends here: 0 after --help or --version (printed to standard output), 2 after a wrong
// argument (the error and the usage on standard error). Needs the application object.
std::optional<int> ParseCommandLine(const QStringList& arguments, TCommandLine& options);
