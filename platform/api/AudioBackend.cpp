#include "platform/api/AudioBackend.h"

#include "platform/api/HandleTable.h"

#include <cstdlib>
#include <mutex>
#include <string>

namespace {
std::mutex& BackendLock() {
    static std::mutex lock;
    return lock;
}
std::unique_ptr<IAudioBackend>& BackendSlot() {
    static std::unique_ptr<IAudioBackend> backend;
    return backend;
}

// The one place that decides which sound system the process uses.
std::unique_ptr<IAudioBackend> CreateConfiguredBackend() {
    const char* env = std::getenv("AVSETUP_BACKEND");
    const std::string choice = env ? env : "real";
    std::unique_ptr<IAudioBackend> backend =
        choice == "sim" ? CreateSimAudioBackend() : CreateRealAudioBackend();
    if (!backend) backend = std::make_unique<IAudioBackend>(); // no devices at all
    return backend;
}
} // namespace

IAudioBackend& AudioBackend() {
    std::lock_guard g(BackendLock());
    auto& slot = BackendSlot();
    if (!slot) slot = CreateConfiguredBackend();
    return *slot;
}

std::unique_ptr<IAudioBackend> SetAudioBackend(std::unique_ptr<IAudioBackend> backend) {
    // Handles belong to the backend that opened them: close them while it still exists.
    mmapi::CloseAllHandles();
    std::lock_guard g(BackendLock());
    auto previous = std::move(BackendSlot());
    BackendSlot() = std::move(backend); // none: configure again from AVSETUP_BACKEND on next use
    return previous;
}

ScopedAudioBackend::ScopedAudioBackend(std::unique_ptr<IAudioBackend> backend)
    : backend_(backend.get()) {
    previous_ = SetAudioBackend(std::move(backend));
}

ScopedAudioBackend::~ScopedAudioBackend() {
    SetAudioBackend(std::move(previous_));
}
