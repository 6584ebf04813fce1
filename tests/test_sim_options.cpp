// Setting the emulated device up from its options: a bad value names its
// option, and nothing is touched before every value has been taken.
#include "devicesim.h"
#include "simoptions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace {

TEST(SimOptionsTest, BadValuesNameTheirOption) {
    struct Case {
        const char* script;  // null: not set
        const char* version; // null: not set
        SimOptionError::Option option;
    };
    const Case cases[] = {
        {"accept,maybe", nullptr, SimOptionError::Script},
        {"", nullptr, SimOptionError::Script},
        {"accept,maybe", "1.5x", SimOptionError::Script},
        {nullptr, "1.5x", SimOptionError::Version},
        {"install3", "", SimOptionError::Version},
        {"fail", "9999.00", SimOptionError::Version},
    };
    for (const Case& c : cases) {
        SimOptions options;
        if (c.script)
            options.script = c.script;
        if (c.version)
            options.version = c.version;
        try {
            CheckSimOptions(options);
            ADD_FAILURE() << "taken: " << (c.script ? c.script : "-") << " "
                          << (c.version ? c.version : "-");
        } catch (const SimOptionError& e) {
            EXPECT_EQ(e.GetOption(), c.option) << (c.script ? c.script : "-");
        }
    }
    SimOptions good;
    good.script = "install3,accept";
    good.version = "2.05";
    EXPECT_NO_THROW(CheckSimOptions(good));
    EXPECT_NO_THROW(CheckSimOptions(SimOptions()));
}

TEST(SimOptionsTest, AppliedToTheDeviceAndRecordFileLast) {
    const std::string record =
        (std::filesystem::temp_directory_path() / "kestrane-simoptions-record.bin").string();
    std::filesystem::remove(record);
    {
        DeviceSim device({{1, 2, 3}}, defaultPortSettings);
        SimOptions bad;
        bad.recordPath = record;
        bad.version = "1.5x";
        EXPECT_THROW(ApplySimOptions(device, bad), SimOptionError);
        EXPECT_FALSE(std::filesystem::exists(record)) << "record file made for a refused set-up";

        SimOptions options;
        options.appearAfterMs = 1000000;
        options.recordPath = record;
        ApplySimOptions(device, options);
        EXPECT_FALSE(device.IsPresent());
        EXPECT_TRUE(std::filesystem::exists(record));
    } // the device holds the record file open until it goes
    std::filesystem::remove(record);
}

} // namespace
