#include "resources/AvResources.h"

#include <QFile>
#include <QHash>

namespace av {
QString ResourcePath(const QString& name) {
    return QStringLiteral(":/avsetup/") + name;
}

namespace {
QHash<int, QString> ReadStringTable() {
    QHash<int, QString> table;
    QFile f(ResourcePath(QStringLiteral("StringTable.txt")));
    if (!f.open(QIODevice::ReadOnly)) return table;
    const QString text = QString::fromUtf8(f.readAll());
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        if (tab <= 0) continue;
        bool ok = false;
        const int id = line.left(tab).toInt(&ok);
        QString value = line.mid(tab + 1);
        if (value.endsWith(QLatin1Char('\r'))) value.chop(1);
        if (ok) table.insert(id, value);
    }
    return table;
}
} // namespace

QString LoadResString(int id) {
    // Read once; a static local is initialised once even when threads race for it.
    static const QHash<int, QString> table = ReadStringTable();
    return table.value(id);
}
} // namespace av
