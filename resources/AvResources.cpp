#include "resources/AvResources.h"

namespace av {
QString ResourcePath(const QString& name) { return QStringLiteral(":/avsetup/") + name; }
} // namespace av
