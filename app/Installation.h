#pragma once
// An installed program and a copy in a build tree or a folder of its own: where each finds its
// data and keeps the user's files. Any thread.
#include <QString>

namespace av {

// True for a program folder the system owns (under /usr, /bin, /sbin or /opt) or one with the
// installed layout beside it (the data folder that `make install` writes for any prefix, such as
// ~/.local/bin with ~/.local/share/avsetup). Such a folder never holds the user's files, even
// when this process may write there (root).
bool IsInstalledProgramFolder(const QString& programFolder);

// A file the program reads at run time (the test sound): beside the program when it is there (a
// build tree, a folder of its own), else in the installed data folder; the path beside the
// program when neither has it, so a report names where it was looked for.
QString ProgramDataFile(const QString& programFolder, const QString& name);

} // namespace av
