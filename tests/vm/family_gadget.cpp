// torvane-vm-gadget: a family device on a real USB device controller. The device emulator answers
// behind a FunctionFS function of a configfs gadget, on the system clock; when the emulator leaves
// the bus the gadget is unbound, and when it comes back it binds again with the new product ID
// and report descriptor, at the same port, so the host sees the device re-enumerate.
//
//   torvane-vm-gadget DIR SPEC none|control-only|either [N]
//
// SPEC is one device of the simulator's DEVICES grammar; the third argument says whether the
// interface has an interrupt OUT endpoint and whether the device takes the commands that come on
// it. In DIR it writes commands.log (one line per output report: the pipe it came on, then its
// first five bytes) and, after SIGTERM or SIGINT, flash.bin. N names the device controller
// dummy_udc.N (default 0) and the gadget's own names, so that several gadgets run at once, one per
// controller.
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <poll.h>
#include <pthread.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <endian.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "protocol/family.h"
#include "sim/device_list_grammar.h"
#include "sim/family_device.h"
#include "sim/family_report_descriptor.h"

namespace {

using torvane::sim::FamilyDevice;
using torvane::sim::SimInterface;

constexpr std::uint8_t kMaxPacket = 64;  // bytes, below 256

constexpr std::uint8_t kHidDescriptorType = 0x21;
constexpr std::uint8_t kReportDescriptorType = 0x22;
constexpr std::uint8_t kGetReport = 0x01;
constexpr std::uint8_t kSetReport = 0x09;
constexpr std::uint8_t kSetIdle = 0x0A;
constexpr std::uint8_t kInputReportType = 1;
constexpr std::uint8_t kOutputReportType = 2;

// The third argument's words, in this order.
enum class OutEndpoint { None, ControlOnly, Either };
constexpr std::string_view kOutEndpoints[] = {"none", "control-only", "either"};

std::atomic<bool> g_stop{false};

void OnStop(int) {
    g_stop = true;
}
void OnWake(int) {}

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    char byte[4];
    for (const std::uint8_t b : bytes) {
        std::snprintf(byte, sizeof byte, "%02x", b);
        text += byte;
    }
    return text;
}

// False, after saying why, when what failed.
bool Done(bool ok, const std::string& what) {
    if (!ok) {
        std::cerr << "gadget: " << what << ": " << std::strerror(errno) << '\n';
    }
    return ok;
}

bool WriteText(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    const bool ok =
        fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0) {
        ::close(fd);
    }
    return Done(ok, "write '" + text + "' to " + path);
}

bool MakeDir(const std::string& path) {
    return Done(::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST, "mkdir " + path);
}

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

// The FunctionFS descriptor blob: the same HID interface at full and at high speed.
std::vector<std::uint8_t> FunctionDescriptors(std::uint16_t reportDescriptorLength,
                                              bool outEndpoint) {
    const auto endpoints = static_cast<std::uint8_t>(outEndpoint ? 2 : 1);
    const auto lo = static_cast<std::uint8_t>(reportDescriptorLength & 0xFF);
    const auto hi = static_cast<std::uint8_t>(reportDescriptorLength >> 8);
    std::vector<std::uint8_t> blob(20);  // the header, below
    // Full speed: 1 ms; high speed: 2^(4-1) microframes, 1 ms.
    for (const std::uint8_t interval : {1, 4}) {
        blob.insert(blob.end(), {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, endpoints,
                                 USB_CLASS_HID, 0, 0, 0});
        blob.insert(blob.end(),
                    {9, kHidDescriptorType, 0x11, 0x01, 0, 1, kReportDescriptorType, lo, hi});
        for (std::uint8_t k = 1; k <= endpoints; ++k) {
            blob.insert(blob.end(), {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT,
                                     static_cast<std::uint8_t>(k == 1 ? 1 | USB_DIR_IN : 2),
                                     USB_ENDPOINT_XFER_INT, kMaxPacket, 0, interval});
        }
    }
    // Per speed: the interface, its HID descriptor and the endpoints.
    const std::uint32_t count = htole32(2U + endpoints);
    const std::uint32_t header[] = {
        htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2), htole32(static_cast<std::uint32_t>(blob.size())),
        htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC), count, count};
    std::memcpy(blob.data(), header, sizeof header);
    return blob;
}

class Gadget {
public:
    Gadget(const std::string& results, OutEndpoint out, const std::string& controller,
           FamilyDevice& device)
        : out_(out),
          controller_(controller),
          device_(device),
          commands_(results + "/commands.log") {}

    bool Create();
    void Run();
    void Destroy();

private:
    bool Attach(const SimInterface& shown);
    void Detach();
    void ServeEp0();
    void Setup(const usb_ctrlrequest& request);
    void Command(std::uint32_t arrived, const char* pipe, std::span<const std::uint8_t> report,
                 bool take);
    void ReadOutEndpoint();
    std::string Path(const std::string& name) const { return gadgetDir_ + "/" + name; }

    const OutEndpoint out_;
    const std::string controller_;
    const std::string gadgetDir_ = "/sys/kernel/config/usb_gadget/torvane" + controller_;
    const std::string instance_ = "torvane" + controller_;
    const std::string function_ = "ffs." + instance_;
    const std::string mountPoint_ = "/dev/ffs-" + instance_;
    FamilyDevice& device_;
    std::mutex deviceLock_;
    std::ofstream commands_;
    torvane::Clock& clock_ = torvane::SystemClock();
    bool attached_ = false;
    std::uint32_t generation_ = 0;
    std::vector<std::uint8_t> reportDescriptor_;
    std::uint16_t inputLength_ = 0;
    int ep0_ = -1;
    int epIn_ = -1;
    int epOut_ = -1;
    std::thread outReader_;
    std::atomic<bool> outStop_{false};
};

bool Gadget::Create() {
    return MakeDir(gadgetDir_) && WriteText(Path("idVendor"), Hex4(torvane::family::kVendorId)) &&
           WriteText(Path("bcdUSB"), Hex4(0x0200)) && MakeDir(Path("configs/c.1")) &&
           WriteText(Path("configs/c.1/MaxPower"), "100") &&
           MakeDir(Path("functions/" + function_)) &&
           Done(::symlink(Path("functions/" + function_).c_str(),
                          Path("configs/c.1/" + function_).c_str()) == 0 ||
                    errno == EEXIST,
                "symlink") &&
           MakeDir(mountPoint_) &&
           Done(::mount(instance_.c_str(), mountPoint_.c_str(), "functionfs", 0, nullptr) == 0,
                "mount functionfs");
}

void Gadget::Destroy() {
    Detach();
    ::umount(mountPoint_.c_str());
    ::rmdir(mountPoint_.c_str());
    ::unlink(Path("configs/c.1/" + function_).c_str());
    for (const std::string& dir : {std::string("configs/c.1"), "functions/" + function_,
                                   std::string("strings/0x409"), std::string()}) {
        ::rmdir(Path(dir).c_str());
    }
}

bool Gadget::Attach(const SimInterface& shown) {
    reportDescriptor_ = torvane::sim::FamilyReportDescriptor(shown.caps);
    inputLength_ = shown.caps.inputReportByteLength;
    const bool outEndpoint = out_ != OutEndpoint::None;
    if (!WriteText(Path("idProduct"), Hex4(shown.productId)) ||
        !WriteText(Path("bcdDevice"), Hex4(shown.versionNumber))) {
        return false;
    }
    // The serial number as the device's string descriptor in US English, which the kernel shows
    // in sysfs.
    if (!shown.serial.empty() && !(MakeDir(Path("strings/0x409")) &&
                                   WriteText(Path("strings/0x409/serialnumber"), shown.serial))) {
        return false;
    }
    ep0_ = ::open((mountPoint_ + "/ep0").c_str(), O_RDWR | O_CLOEXEC);
    const std::vector<std::uint8_t> descriptors =
        FunctionDescriptors(static_cast<std::uint16_t>(reportDescriptor_.size()), outEndpoint);
    // No strings: the interface names none.
    const std::uint32_t strings[] = {htole32(FUNCTIONFS_STRINGS_MAGIC), htole32(16), 0, 0};
    if (!Done(ep0_ >= 0 &&
                  ::write(ep0_, descriptors.data(), descriptors.size()) ==
                      static_cast<ssize_t>(descriptors.size()) &&
                  ::write(ep0_, strings, sizeof strings) == sizeof strings,
              "ep0 setup")) {
        return false;
    }
    epIn_ = ::open((mountPoint_ + "/ep1").c_str(), O_RDWR | O_CLOEXEC);
    if (outEndpoint) {
        epOut_ = ::open((mountPoint_ + "/ep2").c_str(), O_RDWR | O_CLOEXEC);
    }
    if (!Done(epIn_ >= 0 && (!outEndpoint || epOut_ >= 0), "endpoint files")) {
        return false;
    }
    if (outEndpoint) {
        outStop_ = false;
        outReader_ = std::thread([this] { ReadOutEndpoint(); });
    }
    if (!WriteText(Path("UDC"), "dummy_udc." + controller_)) {
        return false;
    }
    attached_ = true;
    generation_ = shown.generation;
    std::cerr << "gadget: bound as " << Hex4(shown.productId) << '\n';
    return true;
}

void Gadget::Detach() {
    if (attached_) {
        WriteText(Path("UDC"), "\n");
        attached_ = false;
        std::cerr << "gadget: unbound\n";
    }
    if (outReader_.joinable()) {
        outStop_ = true;
        // The reader sleeps in read(); a signal without SA_RESTART ends that read.
        while (outStop_) {
            ::pthread_kill(outReader_.native_handle(), SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        outReader_.join();
    }
    for (int* fd : {&epOut_, &epIn_, &ep0_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

void Gadget::Run() {
    while (!g_stop) {
        std::optional<SimInterface> shown;
        {
            const std::lock_guard lock(deviceLock_);
            shown = device_.Interface(clock_.TickCount());
        }
        if (attached_ && (!shown || shown->generation != generation_)) {
            Detach();
        }
        if (!attached_ && shown && !Attach(*shown)) {
            std::cerr << "gadget: cannot bind; stopping\n";
            Detach();
            return;
        }
        if (!attached_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        pollfd ready{ep0_, POLLIN, 0};
        if (::poll(&ready, 1, 10) == 1 && (ready.revents & POLLIN) != 0) {
            ServeEp0();
        }
    }
}

void Gadget::ServeEp0() {
    usb_functionfs_event events[4];
    const ssize_t n = ::read(ep0_, events, sizeof events);
    Done(n >= 0 || errno == EINTR || errno == EAGAIN, "ep0 read");
    for (ssize_t i = 0; i < n / static_cast<ssize_t>(sizeof events[0]); ++i) {
        if (events[i].type == FUNCTIONFS_SETUP) {
            Setup(events[i].u.setup);
        }
    }
}

void Gadget::Setup(const usb_ctrlrequest& request) {
    const std::uint16_t value = le16toh(request.wValue);
    const std::uint16_t length = le16toh(request.wLength);
    const std::uint8_t type = request.bRequestType;
    std::vector<std::uint8_t> data;
    if (type == (USB_DIR_IN | USB_RECIP_INTERFACE) && request.bRequest == USB_REQ_GET_DESCRIPTOR &&
        value >> 8 == kReportDescriptorType) {
        data = reportDescriptor_;
    } else if (type == (USB_DIR_IN | USB_TYPE_CLASS | USB_RECIP_INTERFACE) &&
               request.bRequest == kGetReport && value >> 8 == kInputReportType) {
        data.assign(inputLength_, 0);
        const std::lock_guard lock(deviceLock_);
        if (!data.empty()) {
            data[0] = static_cast<std::uint8_t>(value & 0xFF);
            if (!device_.InputReport(clock_.TickCount(), data)) {
                data.clear();
            }
        }
    } else if (type == (USB_DIR_OUT | USB_TYPE_CLASS | USB_RECIP_INTERFACE) &&
               request.bRequest == kSetReport && length > 0) {
        // The host's request completes only once this read has taken its data.
        std::vector<std::uint8_t> report(length);
        const ssize_t got = ::read(ep0_, report.data(), report.size());
        const std::uint32_t arrived = clock_.TickCount();
        if (Done(got >= 0, "SET_REPORT data") && value >> 8 == kOutputReportType) {
            report.resize(static_cast<std::size_t>(got));
            Command(arrived, "control", report, true);
        }
        return;
    } else if (type == (USB_DIR_OUT | USB_TYPE_CLASS | USB_RECIP_INTERFACE) &&
               request.bRequest == kSetIdle) {
        [[maybe_unused]] const ssize_t ack = ::read(ep0_, nullptr, 0);
        return;
    }
    if (data.empty()) {
        // A stall is asked for by moving data against the request's direction.
        std::cerr << "gadget: stall "
                  << Hex(std::span(reinterpret_cast<const std::uint8_t*>(&request), sizeof request))
                  << '\n';
        [[maybe_unused]] const ssize_t stalled =
            (type & USB_DIR_IN) != 0 ? ::read(ep0_, nullptr, 0) : ::write(ep0_, nullptr, 0);
        return;
    }
    data.resize(std::min<std::size_t>(data.size(), length));
    Done(::write(ep0_, data.data(), data.size()) >= 0, "ep0 write");
}

// The device takes a command at the time it arrived; the log line comes after.
void Gadget::Command(std::uint32_t arrived, const char* pipe, std::span<const std::uint8_t> report,
                     bool take) {
    const std::lock_guard lock(deviceLock_);
    if (take) {
        device_.OutputReport(arrived, report);
    }
    commands_ << pipe << ' ' << Hex(report.first(std::min<std::size_t>(report.size(), 5)))
              << (take ? "" : " ignored") << std::endl;
}

void Gadget::ReadOutEndpoint() {
    // One packet per report: a request longer than the packet would wait for more.
    std::uint8_t packet[kMaxPacket];
    while (!outStop_) {
        const ssize_t got = ::read(epOut_, packet, sizeof packet);
        const std::uint32_t arrived = clock_.TickCount();
        if (got > 0) {
            Command(arrived, "interrupt", std::span(packet, static_cast<std::size_t>(got)),
                    out_ == OutEndpoint::Either);
        } else if (got < 0 && errno != EINTR) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    outStop_ = false;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string controller = argc == 5 ? argv[4] : "0";
    const auto out = argc == 4 || argc == 5 ? std::ranges::find(kOutEndpoints, argv[3])
                                            : std::end(kOutEndpoints);
    if (out == std::end(kOutEndpoints) ||
        controller.find_first_not_of("0123456789") != std::string::npos) {
        std::cerr << "usage: torvane-vm-gadget DIR SPEC none|control-only|either [N]\n";
        return 2;
    }
    std::string error;
    auto configs = torvane::sim::ParseDeviceList(argv[2], error);
    if (!configs || configs->size() != 1) {
        std::cerr << "gadget: SPEC: " << (configs ? "one device expected" : error) << '\n';
        return 2;
    }
    // Without SA_RESTART: a signal ends a read it comes in (SIGUSR1 the OUT endpoint's).
    for (const auto& [number, handler] :
         {std::pair{SIGTERM, &OnStop}, std::pair{SIGINT, &OnStop}, std::pair{SIGUSR1, &OnWake}}) {
        struct sigaction action {};
        action.sa_handler = handler;
        ::sigaction(number, &action, nullptr);
    }

    // The gadget learns of a write only when its thread has run after the data arrived; the
    // echo is ready at once, so that this delay never eats into the host's wait for it.
    configs->front().echoMs = 0;
    FamilyDevice device(std::move(configs->front()));
    const std::string results = argv[1];
    Gadget gadget(results, static_cast<OutEndpoint>(out - std::begin(kOutEndpoints)), controller,
                  device);
    const bool created = gadget.Create();
    if (created) {
        gadget.Run();
    }
    gadget.Destroy();
    const std::vector<std::uint8_t> flash = device.flash();
    std::ofstream(results + "/flash.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(flash.data()),
               static_cast<std::streamsize>(flash.size()));
    return created && g_stop ? 0 : 1;
}
