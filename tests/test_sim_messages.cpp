// The emulated device's answer scripts and the bytes of its Identity Reply.
#include "answerscript.h"
#include "simmessages.h"
#include "utils.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

PortionAnswer Answer(PortionAnswer::Kind kind, int installCount = 0) {
    PortionAnswer answer;
    answer.kind = kind;
    answer.installCount = installCount;
    return answer;
}

TEST(AnswerScript, ReadsEveryWord) {
    struct Case {
        const char* text;
        std::vector<PortionAnswer> answers;
    };
    const Case cases[] = {
        {"accept", {Answer(PortionAnswer::Accept)}},
        {"install3,accept", {Answer(PortionAnswer::Install, 3), Answer(PortionAnswer::Accept)}},
        {"silent,fail", {Answer(PortionAnswer::Silent), Answer(PortionAnswer::Fail)}},
        {" fail , install12 ", {Answer(PortionAnswer::Fail), Answer(PortionAnswer::Install, 12)}},
        {"install0", {Answer(PortionAnswer::Install, 0)}},
        {"install000001", {Answer(PortionAnswer::Install, 1)}},
        {"install10000,install0000010000",
         {Answer(PortionAnswer::Install, 10000), Answer(PortionAnswer::Install, 10000)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseAnswerScript(c.text).GetAnswers(), c.answers);
    }
}

TEST(AnswerScript, LastWordHoldsForLaterPortions) {
    AnswerScript script = ParseAnswerScript("silent,install2,fail");
    EXPECT_EQ(script.ForPortion(0), Answer(PortionAnswer::Silent));
    EXPECT_EQ(script.ForPortion(1), Answer(PortionAnswer::Install, 2));
    EXPECT_EQ(script.ForPortion(2), Answer(PortionAnswer::Fail));
    EXPECT_EQ(script.ForPortion(9), Answer(PortionAnswer::Fail));
    EXPECT_EQ(AnswerScript().ForPortion(5), Answer(PortionAnswer::Accept));
}

TEST(AnswerScript, RejectsBadTextsNamingTheProblem) {
    struct Case {
        const char* text;
        const char* named; // part of the message that points at the fault
    };
    const Case cases[] = {
        {"", "empty answer"},
        {"accept,", "empty answer"},
        {"accept,,fail", "empty answer"},
        {"acept", "\"acept\""},
        {"Accept", "\"Accept\""},
        {"install", "without a count"},
        {"installx", "\"installx\""},
        {"install-1", "\"install-1\""},
        {"install10001", "\"install10001\": the install count must be from 0 to 10000"},
        {"install99999999999", "from 0 to 10000"},
        {"install0000000000000000000010001", "from 0 to 10000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            ParseAnswerScript(c.text);
            ADD_FAILURE() << "accepted";
        } catch (const std::invalid_argument& error) {
            EXPECT_NE(std::string(error.what()).find(c.named), std::string::npos) << error.what();
        }
    }
}

TEST(AnswerScript, WordsReadBackAsWritten) {
    for (const char* word : {"accept", "fail", "silent", "install7"})
        EXPECT_EQ(ParseAnswerScript(word).ForPortion(0).ToString(), word);
}

// The way the sender reads the version out of an Identity Reply with a
// three-byte manufacturer identifier.
std::string ReaderVersionText(const std::vector<uint8_t>& reply) {
    return FormatText("%d.%d%d", reply[11] * 22 + reply[12], reply[13], reply[14]);
}

TEST(IdentityReply, CarriesTheVersionTheReaderPrints) {
    struct Case {
        const char* version;
        std::vector<uint8_t> versionBytes;
    };
    const Case cases[] = {
        {"1.05", {0, 1, 0, 5}},       {"2.10", {0, 2, 1, 0}},   {"30.07", {1, 8, 0, 7}},
        {"0.00", {0, 0, 0, 0}},       {"21.99", {0, 21, 9, 9}}, {"22.00", {1, 0, 0, 0}},
        {"2815.99", {127, 21, 9, 9}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        std::vector<uint8_t> reply = BuildIdentityReply(ParseIdentityVersion(c.version));
        ASSERT_EQ(reply.size(), 37u);
        EXPECT_EQ(std::vector<uint8_t>(reply.begin(), reply.begin() + 5),
                  (std::vector<uint8_t>{0xF0, 0x7E, 0x00, 0x06, 0x02}));
        EXPECT_EQ(std::vector<uint8_t>(reply.begin() + 5, reply.begin() + 8),
                  (std::vector<uint8_t>{0x00, 0x00, 0x3F}));
        EXPECT_EQ(std::vector<uint8_t>(reply.begin() + 11, reply.begin() + 15), c.versionBytes);
        EXPECT_EQ(ReaderVersionText(reply), c.version);
        EXPECT_EQ(std::string(reply.begin() + 20, reply.begin() + 34), kIdentityName);
        EXPECT_EQ(reply.back(), 0xF7);
        for (size_t i = 1; i + 1 < reply.size(); ++i)
            EXPECT_LT(reply[i], 0x80) << "byte " << i;
    }
}

TEST(IdentityReply, RejectsVersionsItCannotCarry) {
    for (const char* text : {"1.5", "1.100", "2816.00", "01.05", "1.0a", "", ".05", "1.", "abc",
                             "1,05", "-1.05", "123456.00"}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(ParseIdentityVersion(text), std::invalid_argument);
    }
    FirmwareVersion threeDigitMinor;
    threeDigitMinor.major = 1;
    threeDigitMinor.minor = 100;
    EXPECT_THROW(BuildIdentityReply(threeDigitMinor), std::invalid_argument);
}

} // namespace
