#include "protocol/device_session.h"

#include <deque>

#include <gtest/gtest.h>

#include "support/records.h"

#include "sim/virtual_clock.h"
#include "support/recording_messages.h"

namespace torvane {
namespace {

using test::Record;

using Bytes = std::vector<std::uint8_t>;

Bytes Padded(Bytes head, std::size_t size, std::uint8_t pad = 0x00) {
    head.resize(size, pad);
    return head;
}

// A HID interface that answers with queued input reports and records what it is sent, with the
// clock's time of each call.
class ScriptedHid final : public HidClass {
public:
    explicit ScriptedHid(Clock& clock) : clock_(clock) {}

    Guid HidGuid() override { return {}; }
    bool GetAttributes(DeviceHandle, HidAttributes&) override { return false; }
    bool GetCaps(DeviceHandle, HidCaps&) override { return false; }
    bool SetOutputReport(DeviceHandle, std::span<const std::uint8_t> report) override {
        sent.emplace_back(report.begin(), report.end());
        sentAt.push_back(clock_.TickCount());
        return true;
    }
    bool GetInputReport(DeviceHandle, std::span<std::uint8_t> report) override {
        readAt.push_back(clock_.TickCount());
        readSize.push_back(report.size());
        if (replies.empty()) {
            return false;
        }
        const Bytes reply = replies.front();
        replies.pop_front();
        std::fill(report.begin(), report.end(), std::uint8_t{0xEE});  // must not leak
        std::copy_n(reply.begin(), std::min(reply.size(), report.size()), report.begin());
        return true;
    }

    std::deque<Bytes> replies;
    std::vector<Bytes> sent;
    std::vector<std::uint32_t> sentAt;
    std::vector<std::uint32_t> readAt;
    std::vector<std::size_t> readSize;

private:
    Clock& clock_;
};

class DeviceSessionTest : public ::testing::Test {
protected:
    DeviceSessionTest() {
        session.sessionHandle = DeviceHandle{0x44};
        Lengths(40, 40);
    }
    void Lengths(std::uint16_t in, std::uint16_t out) {
        session.sessionCaps.inputReportByteLength = in;
        session.sessionCaps.outputReportByteLength = out;
    }
    static Bytes Echo(Bytes head) { return Padded(std::move(head), 40); }

    sim::VirtualClock clock;
    ScriptedHid hid{clock};
    test::RecordingMessages messages;
    DeviceSession session{hid, clock, messages};
};

TEST_F(DeviceSessionTest, WriteRecordSendsTheRecordAndAcceptsOnlyTheExactEcho) {
    const ImageRecord record = Record(0x2010, {0xAA, 0xBB, 0xCC, 0xDD});
    const Bytes echo =
        Echo({0x01, 0x7E, 0x5A, 0x02, 0x02, 0x00, 0x10, 0x20, 0xAA, 0xBB, 0xCC, 0xDD});
    hid.replies.push_back(echo);
    EXPECT_TRUE(session.WriteRecord(record));
    EXPECT_EQ(
        hid.sent[0],
        Padded({0x03, 0x7E, 0x5A, 0x01, 0x02, 0x10, 0x20, 0x04, 0xAA, 0xBB, 0xCC, 0xDD}, 40, 0xFF));
    EXPECT_EQ(hid.readAt[0] - hid.sentAt[0], 10u);

    // Any other byte anywhere fails the record: the padding, the address, a missing reply.
    for (const std::size_t wrong :
         {std::size_t{3}, std::size_t{5}, std::size_t{6}, std::size_t{12}, std::size_t{39}}) {
        Bytes bad = echo;
        bad[wrong] ^= 0x01;
        hid.replies.push_back(bad);
        EXPECT_FALSE(session.WriteRecord(record)) << wrong;
    }
    EXPECT_FALSE(session.WriteRecord(record));

    // An empty record is sent padded and echoed with zeros.
    hid.replies.push_back(Echo({0x01, 0x7E, 0x5A, 0x02, 0x02, 0x00, 0x00, 0x21}));
    EXPECT_TRUE(session.WriteRecord(Record(0x2100, {})));
    EXPECT_EQ(hid.sent.back(), Padded({0x03, 0x7E, 0x5A, 0x01, 0x02, 0x00, 0x21, 0x00}, 40, 0xFF));
}

TEST_F(DeviceSessionTest, EraseWaitsThenPollsUntilConfirmed) {
    const Bytes busy = Echo({0x01, 0x7E, 0x5A, 0x00, 0x00});
    for (int i = 0; i < 9; ++i) {
        hid.replies.push_back(busy);
    }
    hid.replies.push_back(Echo({0x01, 0x7E, 0x5A, 0x02, 0x01}));
    EXPECT_TRUE(session.EraseFirmware());
    EXPECT_TRUE(messages.shown.empty());
    ASSERT_EQ(hid.sent.size(), 11u);
    EXPECT_EQ(hid.sent[0], Padded({0x03, 0x7E, 0x5A, 0x01, 0x01}, 40));
    EXPECT_EQ(hid.sent[1], Padded({0x03, 0x7E, 0x5A, 0x02, 0x02}, 40));
    EXPECT_EQ(hid.sentAt[1] - hid.sentAt[0], 1000u);
    EXPECT_EQ(hid.readAt[0] - hid.sentAt[1], 400u);
    EXPECT_EQ(clock.TickCount(), 1000u + 10 * 400u);
}

// A half-matching reply fails at once; no confirmation fails after ten polls.
TEST_F(DeviceSessionTest, EraseFailsOnAHalfMatchingReplyOrAfterTenPolls) {
    hid.replies.push_back(Echo({0x01, 0x7E, 0x5A, 0x02, 0x00}));
    hid.replies.push_back(Echo({0x01, 0x7E, 0x5A, 0x02, 0x01}));
    EXPECT_FALSE(session.EraseFirmware());
    EXPECT_EQ(hid.sent.size(), 2u);
    hid.replies.clear();
    EXPECT_FALSE(session.EraseFirmware());
    EXPECT_EQ(hid.sent.size(), 2u + 11);
    EXPECT_EQ(messages.shown, std::vector<std::string>(2, "FirmWare erase failure"));
}

TEST_F(DeviceSessionTest, EnterDownloadModeSendsOnlyFromTheApplicationAndRunDoesNotWait) {
    Lengths(64, 64);
    EXPECT_TRUE(session.EnterDownloadMode());
    EXPECT_EQ(session.bootMode, 1);
    // The 40-byte report goes out with the application's longer length, zero-filled.
    EXPECT_EQ(hid.sent.at(0), Padded({0x03, 0x7E, 0x5A, 0x0F, 0x00}, 64));
    EXPECT_EQ(clock.TickCount(), 1000u);

    EXPECT_TRUE(session.EnterDownloadMode());
    EXPECT_EQ(hid.sent.size(), 1u);
    EXPECT_EQ(clock.TickCount(), 1000u);

    // Run sends without waiting.
    EXPECT_TRUE(session.RunFirmware());
    EXPECT_EQ(hid.sent.at(1), Padded({0x03, 0x7E, 0x5A, 0x01, 0x04}, 64));
    EXPECT_EQ(clock.TickCount(), 1000u);
}

TEST_F(DeviceSessionTest, ApplicationVersionWithMajorSixSendsTheFollowUpFirst) {
    Lengths(64, 64);
    hid.replies.push_back(
        Padded({0x01, 0x7E, 0x5A, 0x04, 6, 2, 1, 0, 'Q', 'M', 'X', 'C', 3, 0, 2}, 64));
    std::array<std::uint8_t, 4> version{9, 9, 9, 9};
    EXPECT_TRUE(session.QueryFirmwareVersion(version));
    ASSERT_EQ(hid.sent.size(), 2u);
    EXPECT_EQ(hid.sent[0], Padded({0x03, 0x7E, 0x5A, 0x02, 0x04}, 64));
    EXPECT_EQ(hid.sent[1], Padded({0x03, 0x7E, 0x5A, 0x01, 0x0F}, 64));
    EXPECT_EQ(version, (std::array<std::uint8_t, 4>{6, 2, 1, 0}));
    EXPECT_EQ(session.deviceIdentity,
              (std::array<std::uint8_t, 8>{'Q', 'M', 'X', 'C', 3, 0, 2, 0}));
}

TEST_F(DeviceSessionTest, VersionWithoutAMatchingReplyLeavesEverythingAsItWas) {
    std::array<std::uint8_t, 4> version{7, 7, 7, 7};
    session.deviceIdentity.fill(0x55);
    hid.replies.push_back(Padded({0x01, 0x7E, 0x5A, 0x05, 0x01}, 40));
    EXPECT_TRUE(session.QueryFirmwareVersion(version));
    EXPECT_EQ(version, (std::array<std::uint8_t, 4>{7, 7, 7, 7}));
    EXPECT_EQ(session.deviceIdentity[0], 0x55);

    session.bootMode = 1;
    for (int i = 0; i < 3; ++i) {
        hid.replies.push_back(Padded({0x01, 0x7E, 0x5A, 0x02, 0x0F}, 40));
    }
    hid.replies.push_back(Padded({0x01, 0x7E, 0x5A, 0x0F}, 40));  // one try too late
    EXPECT_TRUE(session.QueryFirmwareVersion(version));
    EXPECT_EQ(version, (std::array<std::uint8_t, 4>{7, 7, 7, 7}));
    EXPECT_EQ(hid.sent.size(), 4u);
    EXPECT_EQ(clock.TickCount(), 0u);
}

TEST_F(DeviceSessionTest, BootLoaderVersionTakesThreeCharacters) {
    session.bootMode = 1;
    Bytes reply = Padded({0x01, 0x7E, 0x5A, 0x0F}, 40);
    reply[13] = '1';
    reply[14] = '0';
    reply[15] = '2';
    hid.replies.push_back(Padded({0x01, 0x7E, 0x5A, 0x00}, 40));
    hid.replies.push_back(reply);
    std::array<std::uint8_t, 4> version{0, 0, 0, 0x44};
    EXPECT_TRUE(session.QueryFirmwareVersion(version));
    EXPECT_EQ(version, (std::array<std::uint8_t, 4>{'1', '0', '2', 0x44}));
    EXPECT_EQ(hid.sent.size(), 2u);
}

TEST_F(DeviceSessionTest, AnnouncedLengthsBeyondTheBuffersStayOutsideThem) {
    // A device announcing 300-byte reports: everything sent has that length, zero beyond what the
    // report sets; what is read beyond the buffer is dropped, not written.
    Lengths(300, 300);
    Bytes reply = Padded({0x01, 0x7E, 0x5A, 0x02, 0x02, 0x00, 0x10, 0x20, 0x11}, 300);
    reply[200] = 0x99;
    hid.replies.push_back(reply);
    EXPECT_TRUE(session.WriteRecord(Record(0x2010, {0x11})));
    EXPECT_EQ(hid.sent[0].size(), 300u);
    EXPECT_EQ(hid.readSize[0], 300u);
    EXPECT_EQ(hid.sent[0],
              Padded(Padded({0x03, 0x7E, 0x5A, 0x01, 0x02, 0x10, 0x20, 0x01, 0x11}, 40, 0xFF), 300,
                     0x00));

    // Announced lengths shorter than a report cut it.
    Lengths(8, 8);
    EXPECT_TRUE(session.RunFirmware());
    EXPECT_EQ(hid.sent.back(), Padded({0x03, 0x7E, 0x5A, 0x01, 0x04}, 8));
}

}  // namespace
}  // namespace torvane
