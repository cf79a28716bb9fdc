// A control endpoint: setup stage from the setup fields, optional data stage in either direction
// and status stage, all carried out by the driver from one request block.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "usb/usb_endpoint.h"

namespace torvane {

class CUsbControlEndPoint : public CUsbEndPoint {
public:
    // endpointDescriptor may be nullptr (the default control endpoint, whose descriptor fields
    // the device sets). Control transfers are buffered: transferMode starts at 0.
    CUsbControlEndPoint(DeviceInterfaces& system, DeviceHandle deviceHandle,
                        const std::uint8_t* endpointDescriptor);

    // One control transfer with the current setup fields and timeoutMs; buffer holds the data
    // stage (sent for direction 0, received for direction 1). Sets isIn from direction.
    std::unique_ptr<RequestBlock> BeginTransfer(std::span<std::uint8_t> buffer,
                                                AsyncIo& overlapped) override;

    // The setup packet, kept between transfers. bmRequestType is built from the first three,
    // each masked to its bits: recipient 0..4, requestType 5..6, direction 7.
    std::uint32_t recipient = 0;    // 0 device, 1 interface, 2 endpoint, 3 other
    std::uint32_t requestType = 2;  // 0 standard, 1 class, 2 vendor
    std::uint32_t direction = 0;    // 0 host to device, 1 device to host
    std::uint8_t bRequest = 0;
    std::uint16_t wValue = 0;
    std::uint16_t wIndex = 0;
};

}  // namespace torvane
