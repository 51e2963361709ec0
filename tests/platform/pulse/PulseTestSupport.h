#pragma once
// Shared pieces of the tests against a real sound server: buffers and a counter of the ones that
// come back, recording the RMS of a wave input through the API, and a daemon of the test's own to
// stop and start again.
#include "../AudioTestSupport.h"
#include "PulseAdmin.h"
#include "platform/api/mmsystem.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pulsetest {

// Sets PULSE_SERVER for the lifetime of the object: clients connecting meanwhile reach server.
// Declare it before the backend: the sound library reads the environment on its own thread
// whenever it reconnects, so it must not change while a backend lives.
class ScopedServer {
public:
    explicit ScopedServer(const char* server) {
        if (const char* v = std::getenv("PULSE_SERVER")) saved_ = v;
        setenv("PULSE_SERVER", server, 1);
    }
    explicit ScopedServer(const std::string& server) : ScopedServer(server.c_str()) {}
    ~ScopedServer() {
        if (saved_)
            setenv("PULSE_SERVER", saved_->c_str(), 1);
        else
            unsetenv("PULSE_SERVER");
    }
    ScopedServer(const ScopedServer&) = delete;
    ScopedServer& operator=(const ScopedServer&) = delete;

private:
    std::optional<std::string> saved_;
};

// Counts wave buffers coming back (CALLBACK_FUNCTION, on the backend's thread).
struct DoneCounter {
    std::atomic<int> done{0};
    static void Proc(HDRVR, UINT msg, DWORD_PTR self, DWORD_PTR, DWORD_PTR) {
        if (msg == MM_WOM_DONE || msg == MM_WIM_DATA) ++reinterpret_cast<DoneCounter*>(self)->done;
    }
    DWORD_PTR Callback() const { return reinterpret_cast<DWORD_PTR>(&Proc); }
    DWORD_PTR Instance() { return reinterpret_cast<DWORD_PTR>(this); }
};

struct Buffer {
    explicit Buffer(std::size_t bytes) : data(bytes) {
        hdr.lpData = data.data();
        hdr.dwBufferLength = static_cast<DWORD>(bytes);
    }
    std::vector<char> data;
    WAVEHDR hdr{};
};

inline double Rms(const std::int16_t* s, std::size_t n) {
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += static_cast<double>(s[i]) * s[i];
    return n ? std::sqrt(sum / static_cast<double>(n)) : 0;
}

// Records ms of 8 kHz mono from wave input id; the RMS of all but the first 100 ms.
inline double RecordRms(UINT id, int ms) {
    DoneCounter counter;
    HWAVEIN h = nullptr;
    const WAVEFORMATEX f = conformance::Pcm(8000, 1, 16);
    EXPECT_EQ(waveInOpen(&h, id, &f, counter.Callback(), counter.Instance(), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    if (!h) return -1;
    std::vector<std::unique_ptr<Buffer>> bufs;
    for (int t = 0; t < ms; t += 100) {
        bufs.push_back(std::make_unique<Buffer>(1600));
        waveInPrepareHeader(h, &bufs.back()->hdr, sizeof(WAVEHDR));
        waveInAddBuffer(h, &bufs.back()->hdr, sizeof(WAVEHDR));
    }
    EXPECT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    EXPECT_TRUE(
        WaitUntil([&] { return counter.done == static_cast<int>(bufs.size()); }, ms + 2000));
    waveInReset(h);
    waveInClose(h);
    // The first 200 ms may still hold what the server recorded before a volume change reached
    // it (more of it on a slow machine or under the thread checker).
    std::vector<std::int16_t> all;
    for (std::size_t i = bufs.size() >= 4 ? 2 : 1; i < bufs.size(); ++i) {
        auto* s = reinterpret_cast<const std::int16_t*>(bufs[i]->data.data());
        all.insert(all.end(), s, s + bufs[i]->hdr.dwBytesRecorded / 2);
    }
    return Rms(all.data(), all.size());
}

// The suite runs on PipeWire's PulseAudio service (tests/with-pipewire.sh), not on PulseAudio.
inline bool OnPipeWire() {
    const char* s = std::getenv("AVSETUP_SOUND_SERVER");
    return s && std::string(s) == "pipewire";
}

// A sound server of the test's own, to stop and start again, of the kind the suite runs on: its
// own directories and socket, the modules given (one "load-module NAME ARGS" line each) and
// nothing else. On PulseAudio the daemon; on PipeWire the PulseAudio service is what stops and
// starts (pipewire and its session manager stay for the object's life), and since its devices go
// with it, every start makes them again, as the daemon's start-up file does.
class PrivateDaemon {
public:
    explicit PrivateDaemon(const std::string& modules =
                               "load-module module-null-sink sink_name=restart_sink "
                               "sink_properties=device.description=Restart_Sink\n")
        : modules_(modules) {
        char tmpl[] = "/tmp/avsetup-restart.XXXXXX";
        if (!mkdtemp(tmpl)) return;
        dir_ = tmpl;
        for (const char* sub : {"/runtime", "/home", "/state"})
            mkdir((dir_ + sub).c_str(), 0700);
        if (pipewire_) return;
        FILE* f = std::fopen((dir_ + "/default.pa").c_str(), "w");
        std::fprintf(f,
                     "%s"
                     "load-module module-native-protocol-unix socket=%s/native "
                     "auth-anonymous=1\n",
                     modules.c_str(), dir_.c_str());
        std::fclose(f);
    }
    ~PrivateDaemon() {
        Stop();
        for (pid_t* p : {&sessionPid_, &graphPid_})
            if (*p > 0) {
                kill(*p, SIGTERM);
                waitpid(*p, nullptr, 0);
                *p = 0;
            }
        if (!dir_.empty()) std::system(("rm -rf " + dir_).c_str());
    }
    PrivateDaemon(const PrivateDaemon&) = delete;
    PrivateDaemon& operator=(const PrivateDaemon&) = delete;
    std::string Server() const { return "unix:" + dir_ + "/native"; }
    bool Start() {
        if (dir_.empty()) return false;
        if (!pipewire_) {
            pid_ = Spawn({"pulseaudio", "-n", "-F", dir_ + "/default.pa", "--daemonize=no",
                          "--exit-idle-time=-1", "--use-pid-file=no", "--disable-shm=yes",
                          "--log-target=file:" + dir_ + "/log"});
            return pid_ > 0 && Listening();
        }
        const char* conf = std::getenv("AVSETUP_PIPEWIRE_CONFIG");
        if (!conf) return false;
        if (graphPid_ <= 0) {
            graphPid_ = Spawn({"pipewire", "-c", std::string(conf) + "/pipewire.conf"});
            const std::string socket = dir_ + "/runtime/pipewire-0";
            struct stat st {};
            if (graphPid_ <= 0 || !WaitUntil([&] { return stat(socket.c_str(), &st) == 0; }, 10000))
                return false;
            sessionPid_ = Spawn({"wireplumber"});
            // Streams find their devices once the session manager has published the defaults.
            if (sessionPid_ <= 0 ||
                !WaitUntil(
                    [&] {
                        return Run({"sh", "-c", "pw-metadata -n default | grep -q ."});
                    },
                    10000))
                return false;
        }
        pid_ = Spawn({"pipewire-pulse", "-c", std::string(conf) + "/pipewire-pulse.conf"});
        if (pid_ <= 0 || !Listening()) return false;
        PulseAdmin admin(Server().c_str());
        std::size_t at = 0;
        while ((at = modules_.find("load-module ", at)) != std::string::npos) {
            at += 12;
            const std::size_t space = modules_.find(' ', at), end = modules_.find('\n', at);
            const std::string name = modules_.substr(at, std::min(space, end) - at);
            const std::string args =
                space < end ? modules_.substr(space + 1, end - space - 1) : std::string();
            if (admin.LoadModule(name, args) == PA_INVALID_INDEX) return false;
        }
        return true;
    }
    // SIGTERM: an orderly stop; SIGKILL: gone as in a crash.
    void Stop(int signal = SIGTERM) {
        if (pid_ <= 0) return;
        kill(pid_, signal);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
        unlink((dir_ + "/native").c_str());
    }

private:
    // Started with the server's own folders; none of the caller's servers reachable.
    pid_t Spawn(std::vector<std::string> args, bool quiet = false) const {
        std::vector<std::string> env{"XDG_RUNTIME_DIR=" + dir_ + "/runtime",
                                     "HOME=" + dir_ + "/home",
                                     "XDG_STATE_HOME=" + dir_ + "/state",
                                     "PULSE_STATE_PATH=" + dir_ + "/state",
                                     "PULSE_RUNTIME_PATH=" + (pipewire_ ? dir_ : dir_ + "/runtime"),
                                     "PULSE_SERVER=" + Server(),
                                     std::string("PATH=") + (std::getenv("PATH") ?: "/usr/bin")};
        if (const char* conf = std::getenv("AVSETUP_PIPEWIRE_CONFIG"))
            env.push_back(std::string("XDG_CONFIG_HOME=") + conf);
        std::vector<char*> argv, envp;
        for (auto& a : args)
            argv.push_back(a.data());
        for (auto& e : env)
            envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        // The servers' chatter goes to a log, a helper's to nowhere.
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        const std::string log = quiet ? "/dev/null" : dir_ + "/log";
        posix_spawn_file_actions_addopen(&files, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0600);
        posix_spawn_file_actions_adddup2(&files, 1, 2);
        pid_t pid = 0;
        const int rc = posix_spawnp(&pid, argv[0], &files, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&files);
        return rc == 0 ? pid : 0;
    }
    // A helper run to its end: whether it succeeded.
    bool Run(std::vector<std::string> args) const {
        const pid_t pid = Spawn(std::move(args), true);
        int status = 0;
        return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0;
    }
    // The socket file appears before the server listens on it: wait until a client gets in.
    bool Listening() const {
        const std::string path = dir_ + "/native";
        return WaitUntil(
            [&] {
                sockaddr_un addr{};
                addr.sun_family = AF_UNIX;
                std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
                const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
                const bool in =
                    fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
                if (fd >= 0) close(fd);
                return in;
            },
            10000);
    }

    const bool pipewire_ = OnPipeWire();
    std::string modules_;
    std::string dir_;
    pid_t pid_ = 0, graphPid_ = 0, sessionPid_ = 0;
};

} // namespace pulsetest
