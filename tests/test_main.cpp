// Every test program runs headless on the offscreen platform with one application object.
#include <QApplication>
#include <gtest/gtest.h>

// The program's environment: "NAME=value" strings from the build, ending with nullptr.
extern const char* const kAvTestEnv[];

int main(int argc, char** argv) {
    // Set where the caller has not set the variable: offscreen, the simulated backend, or what
    // the program asks.
    for (const char* const* setting = kAvTestEnv; *setting; ++setting) {
        const QByteArray s(*setting);
        const qsizetype eq = s.indexOf('=');
        if (eq > 0 && qEnvironmentVariableIsEmpty(s.left(eq).constData()))
            qputenv(s.left(eq).constData(), s.mid(eq + 1));
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
