// torvane-vm-gadget: a family device on a real USB device controller. The device emulator answers
// behind a FunctionFS function of a configfs gadget, on the system clock; when the emulator leaves
// the bus the gadget is unbound, and when it comes back it binds again with the new product ID
// and report descriptor, at the same port, so the host sees the device re-enumerate.
//
//   torvane-vm-gadget --results DIR [--device SPEC] [--out-endpoint none|control-only|either]
//                     [--image FILE] [--controller N]
//
// SPEC is one device of the simulator's DEVICES grammar (default qmx-c). In DIR it writes
// commands.log (one line per output report: the pipe it came on, then its first five bytes) and,
// after SIGTERM or SIGINT, flash.bin and, with --image, flash.verdict: "match" when the flash holds
// exactly the image's records on erased flash, otherwise the first address that differs. N names
// the device controller dummy_udc.N (default 0) and the gadget's own names, so that several
// gadgets run at once, one per controller.
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <poll.h>
#include <pthread.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <endian.h>
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
#include <thread>
#include <vector>

#include "firmware/hex_image.h"
#include "platform/clock.h"
#include "protocol/family.h"
#include "sim/device_list_grammar.h"
#include "sim/family_device.h"
#include "sim/family_report_descriptor.h"

namespace {

using torvane::sim::FamilyDevice;
using torvane::sim::SimInterface;

constexpr std::uint16_t kMaxPacket = 64;

constexpr std::uint8_t kHidDescriptorType = 0x21;
constexpr std::uint8_t kReportDescriptorType = 0x22;
constexpr std::uint8_t kGetReport = 0x01;
constexpr std::uint8_t kSetReport = 0x09;
constexpr std::uint8_t kSetIdle = 0x0A;
constexpr std::uint8_t kInputReportType = 1;
constexpr std::uint8_t kOutputReportType = 2;

enum class OutEndpoint { None, ControlOnly, Either };

struct Options {
    std::string results;
    std::string device = "qmx-c";
    OutEndpoint out = OutEndpoint::None;
    std::string image;
    std::string controller = "0";
};

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

bool WriteText(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        std::cerr << "gadget: open " << path << ": " << std::strerror(errno) << '\n';
        return false;
    }
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (!ok) {
        std::cerr << "gadget: write '" << text << "' to " << path << ": " << std::strerror(errno)
                  << '\n';
    }
    ::close(fd);
    return ok;
}

bool MakeDir(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) {
        return true;
    }
    std::cerr << "gadget: mkdir " << path << ": " << std::strerror(errno) << '\n';
    return false;
}

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

void Le16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Le32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    Le16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    Le16(out, static_cast<std::uint16_t>(value >> 16));
}

// The FunctionFS descriptor blob: the same HID interface at full and at high speed.
std::vector<std::uint8_t> FunctionDescriptors(std::uint16_t reportDescriptorLength,
                                              bool outEndpoint) {
    const auto speed = [&](std::vector<std::uint8_t>& out, std::uint8_t interval) {
        out.insert(out.end(),
                   {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0,
                    static_cast<std::uint8_t>(outEndpoint ? 2 : 1), USB_CLASS_HID, 0, 0, 0});
        out.insert(out.end(), {9, kHidDescriptorType, 0x11, 0x01, 0, 1, kReportDescriptorType});
        Le16(out, reportDescriptorLength);
        out.insert(out.end(),
                   {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, 1 | USB_DIR_IN, USB_ENDPOINT_XFER_INT});
        Le16(out, kMaxPacket);
        out.push_back(interval);
        if (outEndpoint) {
            out.insert(out.end(), {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, 2 | USB_DIR_OUT,
                                   USB_ENDPOINT_XFER_INT});
            Le16(out, kMaxPacket);
            out.push_back(interval);
        }
    };
    std::vector<std::uint8_t> full;
    std::vector<std::uint8_t> high;
    speed(full, 1);  // 1 ms
    speed(high, 4);  // 2^(4-1) microframes: 1 ms
    const std::uint32_t count = outEndpoint ? 4 : 3;
    std::vector<std::uint8_t> blob;
    Le32(blob, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    Le32(blob, static_cast<std::uint32_t>(20 + full.size() + high.size()));
    Le32(blob, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    Le32(blob, count);
    Le32(blob, count);
    blob.insert(blob.end(), full.begin(), full.end());
    blob.insert(blob.end(), high.begin(), high.end());
    return blob;
}

// No strings: the interface names none.
std::vector<std::uint8_t> FunctionStrings() {
    std::vector<std::uint8_t> blob;
    Le32(blob, FUNCTIONFS_STRINGS_MAGIC);
    Le32(blob, 16);
    Le32(blob, 0);
    Le32(blob, 0);
    return blob;
}

class Gadget {
public:
    Gadget(const Options& options, FamilyDevice& device)
        : options_(options), device_(device), commands_(options.results + "/commands.log") {}

    bool Create();
    void Run();
    void Destroy();

private:
    bool Attach(const SimInterface& shown);
    void Detach();
    void ServeEp0();
    void Setup(const usb_ctrlrequest& request);
    void Stall(const usb_ctrlrequest& request);
    void Command(std::uint32_t arrived, const char* pipe, std::span<const std::uint8_t> report,
                 bool take);
    void ReadOutEndpoint();
    std::string Path(const std::string& name) const { return gadgetDir_ + "/" + name; }

    const Options& options_;
    const std::string gadgetDir_ = "/sys/kernel/config/usb_gadget/torvane" + options_.controller;
    const std::string instance_ = "torvane" + options_.controller;
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
    if (!MakeDir(gadgetDir_) || !WriteText(Path("idVendor"), Hex4(torvane::family::kVendorId)) ||
        !WriteText(Path("bcdUSB"), Hex4(0x0200)) || !MakeDir(Path("strings/0x409")) ||
        !WriteText(Path("strings/0x409/manufacturer"), "Torvane test") ||
        !WriteText(Path("strings/0x409/product"), "Family device") ||
        !WriteText(Path("strings/0x409/serialnumber"), "0001") || !MakeDir(Path("configs/c.1")) ||
        !WriteText(Path("configs/c.1/MaxPower"), "100") ||
        !MakeDir(Path("functions/" + function_))) {
        return false;
    }
    if (::symlink(Path("functions/" + function_).c_str(),
                  Path("configs/c.1/" + function_).c_str()) != 0 &&
        errno != EEXIST) {
        std::cerr << "gadget: symlink: " << std::strerror(errno) << '\n';
        return false;
    }
    if (!MakeDir(mountPoint_) ||
        ::mount(instance_.c_str(), mountPoint_.c_str(), "functionfs", 0, nullptr) != 0) {
        std::cerr << "gadget: mount functionfs: " << std::strerror(errno) << '\n';
        return false;
    }
    return true;
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
    const bool outEndpoint = options_.out != OutEndpoint::None;
    const std::string& mount = mountPoint_;
    if (!WriteText(Path("idProduct"), Hex4(shown.productId)) ||
        !WriteText(Path("bcdDevice"), Hex4(shown.versionNumber))) {
        return false;
    }
    ep0_ = ::open((mount + "/ep0").c_str(), O_RDWR | O_CLOEXEC);
    const std::vector<std::uint8_t> descriptors =
        FunctionDescriptors(static_cast<std::uint16_t>(reportDescriptor_.size()), outEndpoint);
    const std::vector<std::uint8_t> strings = FunctionStrings();
    if (ep0_ < 0 ||
        ::write(ep0_, descriptors.data(), descriptors.size()) !=
            static_cast<ssize_t>(descriptors.size()) ||
        ::write(ep0_, strings.data(), strings.size()) != static_cast<ssize_t>(strings.size())) {
        std::cerr << "gadget: ep0 setup: " << std::strerror(errno) << '\n';
        return false;
    }
    epIn_ = ::open((mount + "/ep1").c_str(), O_RDWR | O_CLOEXEC);
    if (outEndpoint) {
        epOut_ = ::open((mount + "/ep2").c_str(), O_RDWR | O_CLOEXEC);
    }
    if (epIn_ < 0 || (outEndpoint && epOut_ < 0)) {
        std::cerr << "gadget: endpoint files: " << std::strerror(errno) << '\n';
        return false;
    }
    if (outEndpoint) {
        outStop_ = false;
        outReader_ = std::thread([this] { ReadOutEndpoint(); });
    }
    if (!WriteText(Path("UDC"), "dummy_udc." + options_.controller)) {
        return false;
    }
    attached_ = true;
    generation_ = shown.generation;
    std::cerr << "gadget: bound as " << Hex4(shown.productId) << ", reports "
              << shown.caps.inputReportByteLength << "/" << shown.caps.outputReportByteLength
              << '\n';
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
    if (n < 0) {
        if (errno != EINTR && errno != EAGAIN) {
            std::cerr << "gadget: ep0 read: " << std::strerror(errno) << '\n';
        }
        return;
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof events[0]; ++i) {
        if (events[i].type == FUNCTIONFS_SETUP) {
            Setup(events[i].u.setup);
        }
    }
}

// A stall is asked for by moving data against the request's direction.
void Gadget::Stall(const usb_ctrlrequest& request) {
    if ((request.bRequestType & USB_DIR_IN) != 0) {
        [[maybe_unused]] const ssize_t ignored = ::read(ep0_, nullptr, 0);
    } else {
        [[maybe_unused]] const ssize_t ignored = ::write(ep0_, nullptr, 0);
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
        if (got < 0) {
            std::cerr << "gadget: SET_REPORT data: " << std::strerror(errno) << '\n';
            return;
        }
        report.resize(static_cast<std::size_t>(got));
        if (value >> 8 == kOutputReportType) {
            Command(arrived, "control", report, true);
        }
        return;
    } else if (type == (USB_DIR_OUT | USB_TYPE_CLASS | USB_RECIP_INTERFACE) &&
               request.bRequest == kSetIdle) {
        [[maybe_unused]] const ssize_t ack = ::read(ep0_, nullptr, 0);
        return;
    }
    if (data.empty()) {
        std::cerr << "gadget: stall "
                  << Hex(std::span(reinterpret_cast<const std::uint8_t*>(&request), sizeof request))
                  << '\n';
        Stall(request);
        return;
    }
    data.resize(std::min<std::size_t>(data.size(), length));
    if (::write(ep0_, data.data(), data.size()) < 0) {
        std::cerr << "gadget: ep0 write: " << std::strerror(errno) << '\n';
    }
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
                    options_.out == OutEndpoint::Either);
        } else if (got < 0 && errno != EINTR) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    outStop_ = false;
}

// The flash against the image's records written on erased flash.
std::string FlashVerdict(const std::vector<std::uint8_t>& flash, const std::string& imagePath) {
    std::FILE* file = std::fopen(imagePath.c_str(), "r");
    if (file == nullptr) {
        return "cannot open " + imagePath;
    }
    torvane::ImageTable table;
    torvane::HexLoadError error;
    const bool loaded = torvane::LoadHexImage(file, torvane::LoadRules{}, table, &error);
    std::fclose(file);
    if (!loaded) {
        return "image refused: " + error.Describe();
    }
    std::vector<std::uint8_t> expected(torvane::sim::kFlashSize, 0xFF);
    for (std::int32_t i = 0; i < table.imageRecordCount; ++i) {
        const torvane::ImageRecord& record = table.imageRecords[static_cast<std::size_t>(i)];
        for (std::size_t k = 0; k < record.length && record.Address() + k < expected.size(); ++k) {
            expected[record.Address() + k] = record.data[k];
        }
    }
    for (std::size_t a = 0; a < expected.size(); ++a) {
        if (flash[a] != expected[a]) {
            char text[64];
            std::snprintf(text, sizeof text, "differs at 0x%04zx: flash %02x, image %02x", a,
                          flash[a], expected[a]);
            return text;
        }
    }
    return "match";
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        std::string value;
        if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return false;
        }
        if (name == "--results") {
            options.results = value;
        } else if (name == "--device") {
            options.device = value;
        } else if (name == "--image") {
            options.image = value;
        } else if (name == "--controller" && !value.empty() &&
                   value.find_first_not_of("0123456789") == std::string::npos) {
            options.controller = value;
        } else if (name == "--out-endpoint" && value == "none") {
            options.out = OutEndpoint::None;
        } else if (name == "--out-endpoint" && value == "control-only") {
            options.out = OutEndpoint::ControlOnly;
        } else if (name == "--out-endpoint" && value == "either") {
            options.out = OutEndpoint::Either;
        } else {
            return false;
        }
    }
    return !options.results.empty();
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::cerr << "usage: torvane-vm-gadget --results DIR [--device SPEC] "
                     "[--out-endpoint none|control-only|either] [--image FILE] "
                     "[--controller N]\n";
        return 2;
    }
    std::string error;
    auto configs = torvane::sim::ParseDeviceList(options.device, error);
    if (!configs || configs->size() != 1) {
        std::cerr << "gadget: --device: " << (configs ? "one device expected" : error) << '\n';
        return 2;
    }
    struct sigaction stop {};
    stop.sa_handler = OnStop;
    ::sigaction(SIGTERM, &stop, nullptr);
    ::sigaction(SIGINT, &stop, nullptr);
    struct sigaction wake {};
    wake.sa_handler = OnWake;
    ::sigaction(SIGUSR1, &wake, nullptr);

    // The gadget learns of a write only when its thread has run after the data arrived; the
    // echo is ready at once, so that this delay never eats into the host's wait for it.
    configs->front().echoMs = 0;
    FamilyDevice device(std::move(configs->front()));
    Gadget gadget(options, device);
    const bool created = gadget.Create();
    if (created) {
        gadget.Run();
    }
    gadget.Destroy();

    std::ofstream(options.results + "/flash.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(device.flash().data()),
               static_cast<std::streamsize>(device.flash().size()));
    if (!options.image.empty()) {
        std::ofstream(options.results + "/flash.verdict")
            << FlashVerdict(device.flash(), options.image) << '\n';
    }
    return created && g_stop ? 0 : 1;
}
