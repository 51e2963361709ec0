// Every test program runs headless on the offscreen platform with one application object.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // The program's environment (AV_TEST_ENV, "NAME=value" strings from the build), where the
    // caller has not set the variable: offscreen, the simulated backend, or what the program asks.
    for (const char* setting : {AV_TEST_ENV}) {
        const QByteArray s(setting);
        const qsizetype eq = s.indexOf('=');
        if (eq > 0 && qEnvironmentVariableIsEmpty(s.left(eq).constData()))
            qputenv(s.left(eq).constData(), s.mid(eq + 1));
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
