// FilePermissionsBind (declared in hidraw_testbed.h).
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "linux/hidraw_testbed.h"

namespace torvane::test {
namespace {

// Both capabilities are below 32: they live in the first word.
constexpr unsigned kDac = (1U << CAP_DAC_OVERRIDE) | (1U << CAP_DAC_READ_SEARCH);

bool Capabilities(int call, __user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(call, &header, data) == 0;
}

}  // namespace

FilePermissionsBind::FilePermissionsBind() {
    __user_cap_data_struct data[2]{};
    if (Capabilities(SYS_capget, data) && (data[0].effective & kDac) != 0) {
        effective_ = data[0].effective;
        data[0].effective &= ~kDac;
        changed_ = Capabilities(SYS_capset, data);
    }
}

FilePermissionsBind::~FilePermissionsBind() {
    __user_cap_data_struct data[2]{};
    if (changed_ && Capabilities(SYS_capget, data)) {
        data[0].effective = effective_;
        Capabilities(SYS_capset, data);
    }
}

}  // namespace torvane::test
