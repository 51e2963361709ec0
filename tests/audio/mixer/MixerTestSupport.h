#pragma once
// Shared pieces of the mixer tests: the simulated sound system installed for one test, posted
// messages pumped until a condition holds (with a deadline), and the default exception handler
// captured.
#include "audio/mixer/AvDevice.h"
#include "framework/Exceptions.h"
#include "platform/api/AudioBackend.h"
#include "platform/sim/SimBackend.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QStringList>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace mixertest {

// Delivers posted messages until pred holds or two seconds passed; the result of pred.
inline bool PumpUntil(const std::function<bool()>& pred) {
    QDeadlineTimer deadline(2000);
    while (!pred()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Delivers every message posted so far.
inline void Pump() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

// Counts the records an observer receives, by class.
struct RecordCounter {
    TAvObserver observer;
    int device = 0, line = 0, control = 0, lineId = 0;
    int lastLineId = -100, lastControlId = -100;
    RecordCounter() {
        observer.OnNotify = [this](TObject*, TObject* data) {
            if (dynamic_cast<TAvDeviceChange*>(data)) ++device;
            if (auto* l = dynamic_cast<TAvLineChange*>(data)) {
                ++line;
                lastLineId = l->LineId;
            }
            if (auto* c = dynamic_cast<TAvControlChange*>(data)) {
                ++control;
                lastLineId = c->LineId;
                lastControlId = c->ControlId;
            }
            if (dynamic_cast<TAvLineIdChange*>(data)) ++lineId;
        };
    }
};

class SimFixture : public ::testing::Test {
protected:
    explicit SimFixture(SimConfig config = SimConfig::Default()) {
        auto sim = std::make_unique<SimBackend>(std::move(config));
        sim_ = sim.get();
        installed_ = std::make_unique<ScopedAudioBackend>(std::move(sim));
        SetExceptionHandler([this](TObject*) { errors_ << CurrentExceptionMessage(); });
    }
    ~SimFixture() override {
        SetExceptionHandler(nullptr);
        Pump(); // let windows released inside their own delivery go
        installed_.reset();
    }

    static SimConfig NoDevices() {
        SimConfig c;
        c.cards.clear();
        return c;
    }

    SimBackend* sim_ = nullptr;
    QStringList errors_; // messages that reached the default exception handler
    std::unique_ptr<ScopedAudioBackend> installed_;
};

} // namespace mixertest
