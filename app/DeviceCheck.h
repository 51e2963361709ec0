#pragma once
// avsetup --check: tests the chosen speaker, microphone and camera without a window and says what
// it found, in lines for people or one JSON object for scripts. Runs on the process's backends
// (AVSETUP_BACKEND) from the main thread of a QCoreApplication; needs no display.
#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>

// Whether the command line asks for the check (the wizard is not made then).
bool IsCheckCommand(int argc, char** argv);

// Parses the check's arguments (argv[0] and "--check" included), runs it, writes the result to
// out and complaints to err. Exit status: 0 every device tested works, 1 something needs the
// user's attention, 2 wrong usage.
int RunDeviceCheck(const QStringList& arguments, std::FILE* out, std::FILE* err);

// What was found, for the report and the tests.
struct TSpeakerCheck {
    QString Device;
    bool Played = false;
    bool Heard = false;
    std::optional<double> LatencyMs;
    double Correlation = 0;
    bool Muted = false;
    int VolumePercent = -1; // -1: the device has no volume control
};
struct TMicrophoneCheck {
    QString Device;
    std::optional<double> PeakDbfs; // none: digital silence (or nothing recorded)
    bool Signal = false;
    bool Clipped = false;
    bool Muted = false;
    int VolumePercent = -1;
};
struct TCameraCheck {
    QString Device;
    int Frames = 0;
    int Width = 0, Height = 0;
};

// Which device a text names in a list: a position ("0", "1", ...) or one of the names each entry
// is known by (compared without regard to case). -1 when none.
int FindDevice(const QString& text, const QList<QStringList>& names);
