#pragma once
#include <QString>

namespace av {
// Path of a resource compiled into the program, for QImage/QFile ("SPK_LEFT.png" ->
// ":/avsetup/SPK_LEFT.png").
QString ResourcePath(const QString& name);

// The program's string table (StringTable.txt): the text with this number, or an empty string
// when there is none. Any thread.
QString LoadResString(int id);
} // namespace av
