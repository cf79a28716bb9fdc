// I/O control codes of the USB function driver behind a device handle (device type 0x22, any
// access). All but the direct transfer use one buffer as input and output.
#pragma once

#include <cstdint>

namespace torvane {

inline constexpr std::uint32_t kIoctlDriverVersion = 0x220000;     // u32 out
inline constexpr std::uint32_t kIoctlUsbdiVersion = 0x220004;      // u32 out
inline constexpr std::uint32_t kIoctlAltSetting = 0x220008;        // u8 out: current setting
inline constexpr std::uint32_t kIoctlUsbAddress = 0x220010;        // u8 out
inline constexpr std::uint32_t kIoctlControlTransfer = 0x220020;   // request block in and out
inline constexpr std::uint32_t kIoctlBufferedTransfer = 0x220024;  // request block in and out
inline constexpr std::uint32_t kIoctlDeviceName = 0x22003C;        // 256 bytes of 8-bit text
inline constexpr std::uint32_t kIoctlFriendlyName = 0x220040;      // 256 bytes of 8-bit text
// Request block (header and packet records) in, the caller's data buffer out, both directions.
inline constexpr std::uint32_t kIoctlDirectTransfer = 0x22004B;
inline constexpr std::uint32_t kIoctlSpeed = 0x22004C;  // u32 out: 2 high speed, 4 SuperSpeed

}  // namespace torvane
