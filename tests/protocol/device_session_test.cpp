#include "protocol/device_session.h"

#include <deque>

#include <gtest/gtest.h>

#include "sim/virtual_clock.h"
#include "support/recording_messages.h"
#include "support/records.h"

namespace torvane {
namespace {

using test::Record;
using Bytes = std::vector<std::uint8_t>;

Bytes Padded(Bytes head, std::size_t size = 40, std::uint8_t pad = 0x00) {
    head.resize(size, pad);
    return head;
}

// A HID interface that answers with queued input reports and records what it is sent.
class ScriptedHid final : public HidClass {
public:
    Guid HidGuid() override { return {}; }
    bool GetAttributes(DeviceHandle, HidAttributes&) override { return false; }
    bool GetSerialNumber(DeviceHandle, std::string&) override { return false; }
    bool GetCaps(DeviceHandle, HidCaps&) override { return false; }
    bool SetOutputReport(DeviceHandle, std::span<const std::uint8_t> report,
                         SystemError&) override {
        sent.emplace_back(report.begin(), report.end());
        return true;
    }
    bool GetInputReport(DeviceHandle, std::span<std::uint8_t> report, SystemError& error) override {
        if (replies.empty()) {
            error = {121, "The semaphore timeout period has expired", false};
            return false;
        }
        std::copy_n(replies.front().begin(), std::min(replies.front().size(), report.size()),
                    report.begin());
        replies.pop_front();
        return true;
    }

    std::deque<Bytes> replies;
    std::vector<Bytes> sent;
};

class DeviceSessionTest : public ::testing::Test {
protected:
    DeviceSessionTest() { Lengths(40); }
    void Lengths(std::uint16_t length) {
        session.sessionCaps.inputReportByteLength = length;
        session.sessionCaps.outputReportByteLength = length;
    }

    sim::VirtualClock clock;
    ScriptedHid hid;
    test::RecordingMessages messages;
    DeviceSession session{hid, clock, messages};
};

// The bytes of a record's write are the real kernel's replay's (Replay tests).
TEST_F(DeviceSessionTest, WriteRecordAcceptsOnlyTheExactEcho) {
    const ImageRecord record = Record(0x2010, {0xAA, 0xBB, 0xCC, 0xDD});
    const Bytes echo =
        Padded({0x01, 0x7E, 0x5A, 0x02, 0x02, 0x00, 0x10, 0x20, 0xAA, 0xBB, 0xCC, 0xDD});
    hid.replies.push_back(echo);
    EXPECT_TRUE(session.WriteRecord(record));

    // Any other byte anywhere fails the record: the padding, the address, a missing reply.
    for (const std::size_t wrong : {3u, 5u, 6u, 12u, 39u}) {
        Bytes bad = echo;
        bad[wrong] ^= 0x01;
        hid.replies.push_back(bad);
        EXPECT_FALSE(session.WriteRecord(record)) << wrong;
    }
    EXPECT_EQ(session.failure(), "the echo differs at byte 39 (0x01, not 0x00)");
    EXPECT_FALSE(session.WriteRecord(record));
    EXPECT_EQ(session.failure(), "no input report came (The semaphore timeout period has expired)");
}

// A half-matching status fails at once; no confirmation fails after ten polls, 400 ms apart,
// the first 1000 ms after the erase command.
TEST_F(DeviceSessionTest, EraseFailsOnAHalfMatchingReplyOrAfterTenPolls) {
    hid.replies = {Padded({0x01, 0x7E, 0x5A, 0x02, 0x00}), Padded({0x01, 0x7E, 0x5A, 0x02, 0x01})};
    EXPECT_FALSE(session.EraseFirmware());
    EXPECT_EQ(hid.sent.size(), 2u);
    EXPECT_EQ(session.failure(), "no confirmation after 1 poll");
    hid.replies.clear();
    EXPECT_FALSE(session.EraseFirmware());
    EXPECT_EQ(hid.sent.size(), 2u + 11);
    EXPECT_EQ(clock.TickCount(), 2 * 1000u + 11 * 400u);
    // The system's error is the cause of the erase it failed, not of the next one.
    EXPECT_EQ(session.failure(), "no input report came (The semaphore timeout period has expired)");
    hid.replies.assign(10, Padded({0x01, 0x7E, 0x5A}));
    EXPECT_FALSE(session.EraseFirmware());
    EXPECT_EQ(session.failure(), "no confirmation after 10 polls");
}

// Only an application is switched; the bytes of the switch are the replay's.
TEST_F(DeviceSessionTest, EnterDownloadModeSendsOnlyFromTheApplication) {
    EXPECT_TRUE(session.EnterDownloadMode());
    EXPECT_TRUE(session.EnterDownloadMode());
    EXPECT_EQ(hid.sent.size(), 1u);
}

TEST_F(DeviceSessionTest, VersionRepliesOfApplicationAndBootLoader) {
    // Major version 6 has the follow-up sent first.
    Lengths(64);
    hid.replies.push_back(
        Padded({0x01, 0x7E, 0x5A, 0x04, 6, 2, 1, 0, 'Q', 'M', 'X', 'C', 3, 0, 2}, 64));
    std::array<std::uint8_t, 4> version{9, 9, 9, 9};
    EXPECT_TRUE(session.QueryFirmwareVersion(version));
    ASSERT_EQ(hid.sent.size(), 2u);
    EXPECT_EQ(hid.sent[1], Padded({0x03, 0x7E, 0x5A, 0x01, 0x0F}, 64));
    EXPECT_EQ(version, (std::array<std::uint8_t, 4>{6, 2, 1, 0}));

    // A reply that is no version reply is no answer.
    hid.replies.push_back(Padded({0x01, 0x7E, 0x5A, 0x05, 0x01}, 64));
    EXPECT_FALSE(session.QueryFirmwareVersion(version));

    // The boot loader's three characters, within three tries, without waiting.
    Lengths(40);
    session.bootMode = 1;
    hid.sent.clear();
    for (const std::size_t wrong : {2u, 3u}) {  // the third try is the last
        hid.replies.assign(wrong, Padded({0x01, 0x7E, 0x5A, 0x00}));
        hid.replies.push_back(
            Padded({0x01, 0x7E, 0x5A, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0, 0, '1', '0', '2'}));
        EXPECT_EQ(session.QueryFirmwareVersion(version), wrong == 2) << wrong;
    }
    EXPECT_EQ(version, (std::array<std::uint8_t, 4>{'1', '0', '2', 0}));
    EXPECT_EQ(hid.sent.size(), 6u);
    EXPECT_EQ(clock.TickCount(), 0u);
}

}  // namespace
}  // namespace torvane
