// The device's update-status message and the MIDI Identity Reply.
#include "sendupdate.h"
#include "testsupport.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes StatusMessage(uint8_t flags, uint8_t filler = 0x00) {
    Bytes message = {0xF0, 0x00, 0x00, 0x3F, 0x73};
    message.insert(message.end(), 6, filler);
    message.push_back(flags);
    message.push_back(0xF7);
    return message;
}

TEST(UpdateStatusTest, ClassifiesTheFlagsByte) {
    struct Case {
        uint8_t flags;
        UpdateStatus expected;
    };
    const Case cases[] = {{0x00, Accepted}, {0x20, Installing}, {0x21, Failed},
                          {0x01, Failed},   {0x08, Failed},     {0x40, Accepted}};
    for (const Case& c : cases) {
        LogCapture log;
        EXPECT_EQ(CheckSysExUpdateStatus(StatusMessage(c.flags, 0x55)), c.expected)
            << "flags " << int(c.flags);
        EXPECT_TRUE(log.Contains(FormatText("CheckSysExUpdateStatus: error=(0x%02x)\n", c.flags)));
    }
}

TEST(UpdateStatusTest, OtherMessagesAreNoResponseAndNotLogged) {
    Bytes twelve = StatusMessage(0x00);
    twelve.erase(twelve.begin() + 5);
    Bytes fourteen = StatusMessage(0x00);
    fourteen.insert(fourteen.begin() + 5, 0x00);
    Bytes otherMaker = StatusMessage(0x00);
    otherMaker[3] = 0x3E;
    for (const Bytes& message : {twelve, fourteen, otherMaker, Bytes{}}) {
        LogCapture log;
        EXPECT_EQ(CheckSysExUpdateStatus(message), NoResponse);
        EXPECT_EQ(log.Text(), "");
    }
}

Bytes IdentityReply(const Bytes& manufacturer, const Bytes& version, const Bytes& name) {
    Bytes reply = {0xF0, 0x7E, 0x00, 0x06, 0x02};
    reply.insert(reply.end(), manufacturer.begin(), manufacturer.end());
    reply.push_back(0x11);              // family
    reply.insert(reply.end(), 2, 0x22); // not examined
    reply.insert(reply.end(), version.begin(), version.end());
    reply.insert(reply.end(), 5, 0x33); // not examined
    Bytes paddedName = name;
    paddedName.resize(16, 0x00);
    reply.insert(reply.end(), paddedName.begin(), paddedName.end());
    reply.push_back(0xF7);
    return reply;
}

TEST(IdentityReplyTest, ReadsOneAndThreeByteManufacturers) {
    LogCapture log;
    DeviceIdentity one = ParseDeviceEnquiryResponse(IdentityReply({0x22}, {0, 1, 2, 3}, {'A'}));
    EXPECT_EQ(one.manufacturer, "22 ");
    EXPECT_EQ(one.family, "11 ");
    EXPECT_EQ(one.version, "1.23");
    EXPECT_EQ(one.name, "A");

    DeviceIdentity three =
        ParseDeviceEnquiryResponse(IdentityReply({0x00, 0x20, 0x3F}, {0, 1, 2, 3}, {'B', 'C'}));
    EXPECT_EQ(three.manufacturer, "00 20 3F ");
    EXPECT_EQ(three.version, "1.23");
    EXPECT_EQ(three.name, "BC");
}

TEST(IdentityReplyTest, VersionUsesTheTwentyTwoMultiplier) {
    LogCapture log;
    EXPECT_EQ(ParseDeviceEnquiryResponse(IdentityReply({0x22}, {0, 1, 0, 5}, {})).version, "1.05");
    EXPECT_EQ(ParseDeviceEnquiryResponse(IdentityReply({0x22}, {1, 3, 1, 2}, {})).version, "25.12");
}

TEST(IdentityReplyTest, NameEndsAtFirstZeroOrHighByte) {
    LogCapture log;
    Bytes name = {'A', 'B', 'C', 0x7F, 'D', 'E'};
    EXPECT_EQ(ParseDeviceEnquiryResponse(IdentityReply({0x22}, {0, 1, 0, 0}, name)).name, "ABC");
    Bytes full(16, 'x');
    EXPECT_EQ(ParseDeviceEnquiryResponse(IdentityReply({0x22}, {0, 1, 0, 0}, full)).name,
              std::string(16, 'x'));
}

TEST(IdentityReplyTest, RejectsWrongShortAndCutShortReplies) {
    Bytes wrongDevice = IdentityReply({0x22}, {0, 1, 0, 5}, {});
    wrongDevice[2] = 0x10;
    Bytes full = IdentityReply({0x00, 0x20, 0x3F}, {0, 1, 0, 5}, {'N'});
    struct Case {
        Bytes reply;
        const char* logged;
    };
    const Case cases[] = {
        {{0xF0, 0x7E, 0x00, 0x06}, "ParseDeviceEnquiryResponse: MIDI sysex header short\n"},
        {wrongDevice, "ParseDeviceEnquiryResponse: MIDI sysex header wrong\n"},
        {StatusMessage(0x00), "ParseDeviceEnquiryResponse: MIDI sysex header wrong\n"},
        // Right header, but the reply ends before the bytes the parser reads
        // (the first case is caught by the sanitizer build when read past).
        {Bytes(full.begin(), full.begin() + 5),
         "ParseDeviceEnquiryResponse: MIDI sysex reply short\n"},
        {Bytes(full.begin(), full.begin() + 6),
         "ParseDeviceEnquiryResponse: MIDI sysex reply short\n"},
        {Bytes(full.begin(), full.end() - 2),
         "ParseDeviceEnquiryResponse: MIDI sysex reply short\n"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        DeviceIdentity identity = ParseDeviceEnquiryResponse(c.reply);
        EXPECT_TRUE(identity.manufacturer.empty() && identity.family.empty() &&
                    identity.version.empty() && identity.name.empty());
        EXPECT_EQ(log.Text(), c.logged);
    }
    // The shortest reply that holds every byte read is accepted.
    LogCapture log;
    EXPECT_EQ(ParseDeviceEnquiryResponse(Bytes(full.begin(), full.end() - 1)).version, "1.05");
}

TEST(HexTextTest, TwoUpperCaseDigitsAndABlankPerByte) {
    EXPECT_EQ(HexText({0x00, 0x20, 0x3F, 0xAB}), "00 20 3F AB ");
    EXPECT_EQ(HexText({}), "");
}

} // namespace
