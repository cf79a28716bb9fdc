// SIGTERM while an interface is claimed: the handler gives the interface back through its usbfs
// descriptor (released, then a driver asked to bind to it) and the signal then meets the
// disposition the program had before.
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/linux/driver_rescue.h"

namespace torvane {
namespace {

constexpr int kNode = 3;
std::atomic<int> released{-1};
std::atomic<int> connected{-1};

gboolean RecordUsbfs(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0,
                                                          _IOC_SIZE(request), nullptr);
    if (data != nullptr && request == USBDEVFS_RELEASEINTERFACE) {
        unsigned int number = 0;
        std::memcpy(&number, data->data, sizeof number);
        released = static_cast<int>(number);
    } else if (data != nullptr && request == USBDEVFS_IOCTL) {
        usbdevfs_ioctl command{};
        std::memcpy(&command, data->data, sizeof command);
        // Bound again only after the release.
        if (command.ioctl_code == static_cast<int>(USBDEVFS_CONNECT) && released == kNode) {
            connected = command.ifno;
        }
    }
    umockdev_ioctl_client_complete(client, 0, 0);
    if (data != nullptr) {
        g_object_unref(data);
    }
    return TRUE;
}

// The disposition before the rescue handler: exit status 0 only after both requests.
void Previous(int) {
    ::_exit(released == kNode && connected == kNode ? 0 : 1);
}

void ClaimAndTerminate() {
    UMockdevTestbed* bed = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(bed);
    std::filesystem::create_directories(std::string(root) + "/dev/bus/usb/001");
    std::ofstream(std::string(root) + "/dev/bus/usb/001/002").flush();
    g_free(root);
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(RecordUsbfs), nullptr);
    umockdev_testbed_attach_ioctl(bed, "/dev/bus/usb/001/002", handler, nullptr);
    const int fd = ::open("/dev/bus/usb/001/002", O_RDWR | O_CLOEXEC);
    struct sigaction previous {};
    previous.sa_handler = Previous;
    ::sigaction(SIGTERM, &previous, nullptr);
    ASSERT_GE(usbfs::RegisterClaim(fd, kNode), 0);
    ::raise(SIGTERM);
    ::_exit(2);
}

TEST(DriverRescue, SigtermReleasesAndRebindsTheClaimedInterfaceThenEndsAsBefore) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(ClaimAndTerminate(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace torvane
