// Gives claimed USB interfaces back to their kernel drivers when SIGINT, SIGTERM or SIGHUP ends
// the program while they are claimed: the handler releases each registered interface through its
// usbfs descriptor, asks the kernel to bind a driver to it again, restores the signal's previous
// disposition and raises the signal again. Everything it touches is fixed-size and lock-free.
// The device access seam's GiveBackDriverless, for interfaces a program killed by a signal it
// could not handle left without a driver, is defined beside it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvane::usbfs {

inline constexpr std::size_t kRescueSlots = 32;

// Records that fd, an open usbfs node, claims (or is about to claim) interface `number`; installs
// the handler the first time, for each of the signals that is not ignored. The slot, or -1 when
// all slots are taken.
int RegisterClaim(int fd, std::uint8_t number);
// Forgets the record of slot; call it before closing the descriptor.
void UnregisterClaim(int slot);

}  // namespace torvane::usbfs
