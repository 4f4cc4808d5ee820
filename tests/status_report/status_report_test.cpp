// The reporting schedule, driven call by call: which report each call of the
// daemon's loop sends, and which change flags it consumes. (The error
// callback is exercised by the link tests, whose failed writes reach it.)
#include <gtest/gtest.h>

#include <vector>

#include "status_report.h"

namespace {

// One call's inputs and what the schedule asked of them.
struct Flags {
    bool address = false;
    bool temperature = false;
    int address_asked = 0;
    int temperature_asked = 0;
};

Report_Kind call(Report_Schedule& schedule, Flags& flags, bool forced = false)
{
    return choose_due_report(
        schedule, forced,
        [&] {
            ++flags.address_asked;
            const bool set = flags.address;
            flags.address = false;
            return set;
        },
        [&] {
            ++flags.temperature_asked;
            const bool set = flags.temperature;
            flags.temperature = false;
            return set;
        });
}

TEST(ReportSchedule, DescriptionOnEvery60thCallAfterTheLastBatch)
{
    Report_Schedule schedule;
    Flags flags;
    ASSERT_EQ(call(schedule, flags, true), Report_Kind::DESCRIPTION);
    EXPECT_EQ(flags.address_asked, 0) << "a forced batch does not consume the address flag";

    std::vector<int> descriptions;
    for (int i = 1; i <= 180; ++i) {
        if (call(schedule, flags) == Report_Kind::DESCRIPTION) {
            descriptions.push_back(i);
        }
    }
    EXPECT_EQ(descriptions, (std::vector<int>{60, 120, 180}));
}

TEST(ReportSchedule, AddressChangeSendsTheBatchButIsNotConsumedOnThe60thCall)
{
    Report_Schedule schedule;
    Flags flags;
    for (int i = 1; i < 60; ++i) {
        ASSERT_NE(call(schedule, flags), Report_Kind::DESCRIPTION) << i;
    }
    flags.address = true;
    const int asked = flags.address_asked;
    EXPECT_EQ(call(schedule, flags), Report_Kind::DESCRIPTION);
    EXPECT_EQ(flags.address_asked, asked) << "the flag was read on the 60th call";
    EXPECT_EQ(call(schedule, flags), Report_Kind::DESCRIPTION) << "the pending flag gives the next batch";
    EXPECT_EQ(schedule.last_update_count, 0);
}

TEST(ReportSchedule, KeepAliveOnThe11thIdleCallAndABatchNeitherCountsNorRestarts)
{
    Report_Schedule schedule;
    Flags flags;
    std::vector<Report_Kind> got;
    for (int i = 0; i < 5; ++i) {
        got.push_back(call(schedule, flags));
    }
    got.push_back(call(schedule, flags, true));  // a batch between idle calls
    for (int i = 0; i < 6; ++i) {
        got.push_back(call(schedule, flags));
    }
    std::vector<Report_Kind> expected(12, Report_Kind::NONE);
    expected[5] = Report_Kind::DESCRIPTION;
    expected[11] = Report_Kind::KEEP_ALIVE;  // the 11th idle call
    EXPECT_EQ(got, expected);
    // From one keep-alive to the next: again 10 silent calls, then the 11th.
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(call(schedule, flags), Report_Kind::NONE) << i;
    }
    EXPECT_EQ(call(schedule, flags), Report_Kind::KEEP_ALIVE);
}

TEST(ReportSchedule, TemperatureOnChangeRestartsTheIdleCountAndWaitsBehindADescription)
{
    Report_Schedule schedule;
    Flags flags;
    for (int i = 0; i < 8; ++i) {
        call(schedule, flags);
    }
    flags.temperature = true;
    EXPECT_EQ(call(schedule, flags), Report_Kind::TEMPERATURE);
    EXPECT_EQ(schedule.timeout_count, 0);

    // A change on every call: one temperature report each, never a keep-alive.
    for (int i = 0; i < 20; ++i) {
        flags.temperature = true;
        EXPECT_EQ(call(schedule, flags), Report_Kind::TEMPERATURE) << i;
    }

    // With a description due, the temperature flag is not read: it goes out
    // on the next call.
    flags.temperature = true;
    const int asked = flags.temperature_asked;
    EXPECT_EQ(call(schedule, flags, true), Report_Kind::DESCRIPTION);
    EXPECT_EQ(flags.temperature_asked, asked);
    EXPECT_EQ(call(schedule, flags), Report_Kind::TEMPERATURE);
}

// A failed report goes again with the next call, unless that call sends it
// anyway; keep-alives and packets that are no report are not noted.
TEST(ReportResend, FailedReportsGoAgainUnlessTheDueReportCoversThem)
{
    const uint8_t all = REPORT_OS | REPORT_ADDRESS | REPORT_SERIAL | REPORT_TEMPERATURE;
    EXPECT_EQ(choose_resends(all, Report_Kind::NONE), all);
    EXPECT_EQ(choose_resends(all, Report_Kind::KEEP_ALIVE), all);
    EXPECT_EQ(choose_resends(all, Report_Kind::DESCRIPTION), REPORT_TEMPERATURE);
    EXPECT_EQ(choose_resends(all, Report_Kind::TEMPERATURE), REPORT_OS | REPORT_ADDRESS | REPORT_SERIAL);

    // The end-to-end outage test shows the address and the temperature.
    auto packet = [](BMC::PACKET_TYPE type, BMC::ADDRESS address, uint8_t subaddress) {
        BMC::Packet p;
        BMC::init_Packet(&p, BMC::NODE_ID::BMC, false, type, false, address, subaddress, BMC::DATA_TYPE::UINT8, nullptr,
                         0);
        return p;
    };
    EXPECT_EQ(classify_report(packet(BMC::PACKET_TYPE::WRITE, BMC::ADDRESS::DESCRIPTION,
                                     BMC::SUBADDRESS_DESCRIPTION_SERIAL_NUMBER)),
              REPORT_SERIAL);
    EXPECT_EQ(classify_report(packet(BMC::PACKET_TYPE::PING, BMC::ADDRESS::DESCRIPTION, 0)), 0) << "a keep-alive";
}

}  // namespace
