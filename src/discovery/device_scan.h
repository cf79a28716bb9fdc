// The scan: every family device among the present HID interfaces, under its list text.
#pragma once

#include "discovery/device_table.h"
#include "platform/device_interfaces.h"
#include "platform/hid_class.h"
#include "platform/message_sink.h"

namespace torvane {

// Enumerates the HID class once and opens each interface in turn. An interface whose handle
// fails or whose attributes cannot be read is skipped, as is any past the table's 128 rows. The
// scan ends at an interface the system refuses to close, with the rows found so far. Messages
// about bad descriptor tables and the refused close go to messages.
DeviceTable ScanDevices(DeviceInterfaces& interfaces, HidClass& hid, MessageSink& messages);

}  // namespace torvane
