#include "framework/Exceptions.h"

#include <QDebug>
#include <cstdio>

namespace {
TExceptionHandler& Handler() {
    static TExceptionHandler handler;
    return handler;
}
} // namespace

void SetExceptionHandler(TExceptionHandler handler) {
    Handler() = std::move(handler);
}

QString CurrentExceptionMessage() {
    try {
        throw;
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown exception");
    }
}

QString CurrentExceptionClassName() {
    try {
        throw;
    } catch (const Exception& e) {
        return QString::fromLatin1(e.ClassName());
    } catch (const std::exception&) {
        return QStringLiteral("std::exception");
    } catch (...) {
        return QStringLiteral("unknown");
    }
}

void HandleException(TObject* sender) {
    if (!std::current_exception()) return;
    if (Handler()) {
        try {
            Handler()(sender);
            return;
        } catch (...) {
            // a failing handler must not take the program down; fall through to the log
        }
    }
    std::fprintf(stderr, "Unhandled exception: %s\n",
                 CurrentExceptionMessage().toUtf8().constData());
}
