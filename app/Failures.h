#pragma once
// What a person reads when something fails: the libraries' messages are technical and English
// (and stay so, for logs and reports); the wizard says in plain words what happened and what to
// do. The application shows the original text as the message box's details and on stderr.
#include <QString>

// The plain words for a failure (exception class name and message), or an empty string when
// the message is to be shown as it is. Main thread: it looks at the sound system as it is now.
QString ExplainFailure(const QString& className, const QString& message);
