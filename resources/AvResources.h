#pragma once
#include <QString>

namespace av {
// Path of a resource compiled into the program, for QImage/QFile ("SPK_LEFT.png" -> ":/avsetup/SPK_LEFT.png").
QString ResourcePath(const QString& name);
} // namespace av
