#pragma once
// A full disk for the calling process: files may not grow past a byte limit while the object
// lives (RLIMIT_FSIZE). Writes across it fail with EFBIG; SIGXFSZ, which would end the process,
// is ignored meanwhile. Both are restored on destruction.
#include <csignal>
#include <sys/resource.h>

class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &FOldAction);
        getrlimit(RLIMIT_FSIZE, &FSaved);
        rlimit limit = FSaved;
        limit.rlim_cur = bytes;
        FActive = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~TFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &FSaved);
        sigaction(SIGXFSZ, &FOldAction, nullptr);
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;
    bool Active() const { return FActive; }

private:
    struct sigaction FOldAction {};
    rlimit FSaved{};
    bool FActive = false;
};
