#pragma once
// The exception family of the program. Every component family derives its own class from
// Exception (EAvDeviceError, EDirectShowException, ...); the message is a QString so that
// Chinese texts survive, and what() gives its UTF-8 form.
#include <QString>
#include <exception>
#include <functional>
#include <utility>

class TObject;

class Exception : public std::exception {
public:
    explicit Exception(QString message) : FMessage(std::move(message)), FUtf8(FMessage.toUtf8()) {}
    // Message built with QString::arg: Exception::Fmt("Bad index %1 of %2", i, n).
    template <class... Args> static Exception Fmt(const QString& format, Args&&... args) {
        return Exception(format.arg(std::forward<Args>(args)...));
    }
    const QString& Message() const noexcept { return FMessage; }
    void SetMessage(const QString& message) {
        FMessage = message;
        FUtf8 = message.toUtf8();
    }
    // The class name shown in message boxes and logs (overridden by families that care).
    virtual const char* ClassName() const noexcept { return "Exception"; }
    const char* what() const noexcept override { return FUtf8.constData(); }

private:
    QString FMessage;
    QByteArray FUtf8;
};

// Declares a family class in one line: AV_DECLARE_EXCEPTION(EAvWaveOutError, Exception);
#define AV_DECLARE_EXCEPTION(Name, Base)                                                           \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        using Base::Base;                                                                          \
        const char* ClassName() const noexcept override { return #Name; }                          \
    }

AV_DECLARE_EXCEPTION(EComponentError, Exception);
AV_DECLARE_EXCEPTION(EInOutError, Exception);
AV_DECLARE_EXCEPTION(EIniFileException, EInOutError);
AV_DECLARE_EXCEPTION(EThread, Exception);
AV_DECLARE_EXCEPTION(EInvalidOperation, Exception);

// Raises E with a message built by QString::arg: RaiseFmt<EAvWaveOutError>("%1:\n\r%2", a, b).
template <class E = Exception, class... Args>
[[noreturn]] void RaiseFmt(const QString& format, Args&&... args) {
    throw E(format.arg(std::forward<Args>(args)...));
}

// --- The default exception handler -------------------------------------------------------------
// Every place where the framework calls program code from Qt (widget events, button signals,
// posted messages, timers, synchronised procedures) catches what escapes and hands the current
// exception here. The application installs the handler that shows a message box; without an
// application the message goes to stderr. Main thread only.
void HandleException(TObject* sender = nullptr);

// Runs fn and hands any escaping exception to HandleException; returns false when one escaped.
template <class F> bool GuardedCall(TObject* sender, F&& fn) {
    try {
        std::forward<F>(fn)();
        return true;
    } catch (...) {
        HandleException(sender);
        return false;
    }
}

// The text and class name of the exception being handled (call inside a catch block).
QString CurrentExceptionMessage();
QString CurrentExceptionClassName();

// Installed by TApplication; receives the exception currently being handled (catch context).
using TExceptionHandler = std::function<void(TObject* sender)>;
void SetExceptionHandler(TExceptionHandler handler);
