#pragma once
// Root ignores permission bits, so a read-only file or folder is only read-only to the program
// when it runs as someone else. While this object lives, the calling thread works without the
// capabilities that override them (dropped from its effective set only, so they come back); for
// anyone else it changes nothing. Main thread of a test.
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

class TNoPermissionOverride {
public:
    TNoPermissionOverride() {
        if (syscall(SYS_capget, &FHeader, FSaved) != 0) return;
        __user_cap_data_struct reduced[2] = {FSaved[0], FSaved[1]};
        reduced[0].effective &=
            ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        FActive = syscall(SYS_capset, &FHeader, reduced) == 0;
    }
    ~TNoPermissionOverride() {
        if (FActive) syscall(SYS_capset, &FHeader, FSaved);
    }
    TNoPermissionOverride(const TNoPermissionOverride&) = delete;
    TNoPermissionOverride& operator=(const TNoPermissionOverride&) = delete;

private:
    __user_cap_header_struct FHeader{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct FSaved[2]{};
    bool FActive = false;
};
