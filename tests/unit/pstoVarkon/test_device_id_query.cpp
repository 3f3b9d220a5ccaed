// SPDX-License-Identifier: GPL-2.0-or-later
// The bounded device-ID wait: answers at once or late are used, a silent
// channel costs one wait per job and no second request, a late answer is
// still picked up, and a cancelled job stops waiting at once.
#include "device_id_query.h"

#include "job_state.h"
#include "ps_job_fixtures.h"
#include "side_channel_standin.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

using namespace varkon::test;
using std::chrono::milliseconds;

namespace {

const std::string kId = "MFG:Varkon;MDL:Jurvex 21;CLS:PRINTER;";

struct Asked {
    bool ok = false;
    std::string id;
    double seconds = 0;
};

Asked ask(varkon::DeviceIdChannel &channel)
{
    char id[512] = {};
    int length = 511;
    const auto start = std::chrono::steady_clock::now();
    Asked asked;
    asked.ok = channel.ask(id, &length);
    asked.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    asked.id.assign(id, static_cast<std::size_t>(length));
    return asked;
}

class DeviceIdWait : public ::testing::Test {
protected:
    void SetUp() override { job_canceled = 0; }
    void TearDown() override { job_canceled = 0; }
};

// "At once" below is well inside the wait of the channel: a busy machine may
// take a while to answer, but not the whole wait.
TEST_F(DeviceIdWait, AnswersAtOnceOrWithinTheWaitAreUsed)
{
    {
        const SideChannelStandin backend(kId);
        varkon::DeviceIdChannel channel(2.0);
        const Asked asked = ask(channel);
        EXPECT_TRUE(asked.ok);
        EXPECT_EQ(asked.id, kId);
        EXPECT_LT(asked.seconds, 1.0);
    }
    {
        const SideChannelStandin backend(kId, 1, milliseconds(600));
        varkon::DeviceIdChannel channel(2.0);
        const Asked asked = ask(channel);
        EXPECT_TRUE(asked.ok);
        EXPECT_EQ(asked.id, kId);
        EXPECT_GE(asked.seconds, 0.55);
        // The next question gets its own answer, not a stale one.
        EXPECT_TRUE(ask(channel).ok);
        EXPECT_EQ(backend.requests(), 2);
    }
}

TEST_F(DeviceIdWait, ASilentChannelCostsOneWaitAndOneRequest)
{
    const SideChannelStandin backend(kId, 1, SideChannelStandin::kNever);
    varkon::DeviceIdChannel channel(0.4);
    const Asked first = ask(channel);
    EXPECT_FALSE(first.ok);
    EXPECT_EQ(first.id, "");
    EXPECT_GE(first.seconds, 0.35);
    EXPECT_LT(first.seconds, 1.5);
    const Asked second = ask(channel);
    EXPECT_FALSE(second.ok);
    EXPECT_LT(second.seconds, 0.3) << "no second wait of 0.4 s";
    EXPECT_EQ(backend.requests(), 1);
}

TEST_F(DeviceIdWait, AnAnswerThatComesAfterTheWaitServesTheNextQuestion)
{
    const SideChannelStandin backend(kId, 1, milliseconds(500));
    varkon::DeviceIdChannel channel(0.1);
    EXPECT_FALSE(ask(channel).ok);
    std::this_thread::sleep_for(milliseconds(800));
    const Asked late = ask(channel);
    EXPECT_TRUE(late.ok);
    EXPECT_EQ(late.id, kId);
    EXPECT_LT(late.seconds, 0.1);
    EXPECT_EQ(backend.requests(), 1);
    // The channel answers again: the next question waits for it once more.
    EXPECT_GE(ask(channel).seconds, 0.09);
}

TEST_F(DeviceIdWait, FailedTooLongAndEmptyAnswersGiveNoId)
{
    for (const auto &[id, status] : {std::pair<std::string, int>{kId, 3}, {"", 1}, {std::string(600, 'x'), 1}}) {
        const SideChannelStandin backend(id, status);
        varkon::DeviceIdChannel channel(2.0);
        const Asked asked = ask(channel);
        EXPECT_FALSE(asked.ok) << status << " " << id.size();
        EXPECT_LT(asked.seconds, 1.0);
    }
    NoSideChannel none;
    varkon::DeviceIdChannel channel(2.0);
    const Asked asked = ask(channel);
    EXPECT_FALSE(asked.ok);
    EXPECT_LT(asked.seconds, 1.0);
}

TEST_F(DeviceIdWait, ACancelledJobStopsWaitingAtOnce)
{
    const SideChannelStandin backend(kId, 1, SideChannelStandin::kNever);
    varkon::DeviceIdChannel channel(5.0);
    std::thread canceller([] {
        std::this_thread::sleep_for(milliseconds(300));
        job_canceled = 1;
    });
    const Asked asked = ask(channel);
    canceller.join();
    EXPECT_FALSE(asked.ok);
    EXPECT_LT(asked.seconds, 2.0) << "cancelled at 0.3 s of a 5-s wait";
    EXPECT_FALSE(ask(channel).ok);
    EXPECT_EQ(backend.requests(), 1);
}

} // namespace
