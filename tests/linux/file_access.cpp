#include "linux/file_access.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace torvane::test {
namespace {

constexpr unsigned Bit(int capability) {
    return 1U << (capability % 32);
}

bool Get(__user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capget, &header, data) == 0;
}

bool Set(__user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

FilePermissionsBind::FilePermissionsBind() {
    __user_cap_data_struct data[2]{};
    if (!Get(data)) {
        return;
    }
    effective_[0] = data[0].effective;
    effective_[1] = data[1].effective;
    // Both capabilities are below 32: they live in the first word.
    data[0].effective &= ~(Bit(CAP_DAC_OVERRIDE) | Bit(CAP_DAC_READ_SEARCH));
    changed_ = data[0].effective != effective_[0] && Set(data);
}

FilePermissionsBind::~FilePermissionsBind() {
    __user_cap_data_struct data[2]{};
    if (changed_ && Get(data)) {
        data[0].effective = effective_[0];
        data[1].effective = effective_[1];
        Set(data);
    }
}

}  // namespace torvane::test
