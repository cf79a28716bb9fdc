// Device access seam on Windows: interfaces are opened through the HID driver, and Windows gives
// an interface back to its driver when the last handle goes, however the program ended. There is
// no transport to choose and nothing to give back; nothing is examined, and no node belongs to a
// user.
#include "platform/device_access.h"

namespace torvane {

void SetTransportPreference(TransportPreference) {}

std::vector<InterfaceAccess> ExamineInterfaces(std::uint16_t, std::uint8_t) {
    return {};
}

bool SomeInterfaceUnopened(std::uint16_t) {
    return false;
}

std::optional<UserNodeAccess> ExamineUserAccess(const std::string&, const std::string&) {
    return std::nullopt;
}

std::vector<GivenBack> GiveBackDriverless(std::uint16_t, std::span<const std::uint16_t>) {
    return {};
}

}  // namespace torvane
