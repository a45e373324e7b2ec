#include "app/MainWindowState.h"
#include "app/SynchronizedCalls.h"
#include "platform/Errors.h"
#include "tests/common/InlineWindow.h"
#include "tests/common/TestUtil.h"

#include <gtest/gtest.h>

using testutil::ErrorOf;

TEST(Gauge, KeepsItsRangeAndComputesTruncatedPercentages) {
    TGauge gauge;
    gauge.SetMaxValue(0);
    gauge.SetProgress(5);
    EXPECT_EQ(gauge.Percentage(), 0);
    gauge.SetMaxValue(3);
    gauge.SetProgress(1);
    EXPECT_EQ(gauge.Percentage(), 33);
    gauge.SetProgress(2);
    EXPECT_EQ(gauge.Percentage(), 66);

    TGauge range;
    EXPECT_EQ(ErrorOf([&] { range.SetMaxValue(-1); }), "Value must be between 1 and 2147483647");
    EXPECT_EQ(range.MaxValue(), 100);
    EXPECT_EQ(ErrorOf([&] { range.SetMinValue(150); }), "Value must be between -2147483647 and 99");
    range.SetProgress(40);
    range.SetMaxValue(10);
    EXPECT_EQ(range.Progress(), 10);
    range.SetMaxValue(100);
    range.SetProgress(500);
    EXPECT_EQ(range.Progress(), 100);
    EXPECT_EQ(range.Percentage(), 100);
    range.Loading = true;
    range.SetMaxValue(-5); // a stored layout is taken as it is
    EXPECT_EQ(range.MaxValue(), -5);

    TGauge fine;
    fine.SetMaxValue(1000);
    fine.SetProgress(1);
    int repaints = fine.RepaintCount;
    fine.SetProgress(2);
    EXPECT_EQ(fine.RepaintCount, repaints);
    fine.SetProgress(20);
    EXPECT_EQ(fine.RepaintCount, repaints + 1);
}

TEST(MainWindowState, SizesTheBarFromTheOverallGaugeRoundingHalvesToEven) {
    EXPECT_EQ(TMainWindowState::BarWidth(0, 378), 0);
    EXPECT_EQ(TMainWindowState::BarWidth(25, 378), 94);
    EXPECT_EQ(TMainWindowState::BarWidth(50, 378), 189);
    EXPECT_EQ(TMainWindowState::BarWidth(75, 378), 284);
    EXPECT_EQ(TMainWindowState::BarWidth(100, 378), 378);

    testutil::TempDir dir;
    testutil::TInlineWindow window{TInstallFolder(dir.Path())};
    window.SetGaugeMax(1, 4);
    window.SetTotalProgress(1);
    EXPECT_EQ(window.Shape1Width, 94);
    window.SetGaugeMax(1, 1);
    EXPECT_EQ(window.Shape1Width, 378); // the position was clamped to the new maximum
    window.SetGaugeMax(2, 50);          // no such gauge: nothing changes
    EXPECT_EQ(window.Gauge1.MaxValue(), 100);
    EXPECT_EQ(window.Gauge2.MaxValue(), 1);
    EXPECT_THROW(window.SetGaugeMax(0, -1), EInvalidOperation);
    window.SetRunButtonsEnabled(false);
    EXPECT_FALSE(window.ImgBtn1Enabled || window.ImgBtn2Enabled);
    window.UpdateRevision("7");
    EXPECT_EQ(testutil::ReadBytes(dir / "_settings.ini"), "[main]\r\nAtRevision=7\r\n");
}

TEST(SynchronizedCalls, RunOnlyTheCallAWorkerWaitsOnAndOnce) {
    TSynchronizedCalls calls;
    EXPECT_FALSE(calls.Run(0)); // nothing waits: a message from elsewhere runs nothing
    EXPECT_FALSE(calls.Run(1));

    int runs = 0;
    uintptr_t used = 0;
    calls.Call([&] { ++runs; },
               [&](uintptr_t token) {
                   EXPECT_FALSE(calls.Run(token + 1)); // another number
                   EXPECT_TRUE(calls.Run(token));
                   EXPECT_FALSE(calls.Run(token)); // a second message for the same call
                   used = token;
               });
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(calls.Run(used)); // over: its number no longer names anything

    EXPECT_EQ(ErrorOf([&] {
                  calls.Call([] { throw EInvalidOperation("refused"); },
                             [&](uintptr_t token) { calls.Run(token); });
              }),
              "refused");
    EXPECT_EQ(ErrorOf([&] { calls.Call([&] { ++runs; }, [](uintptr_t) {}); }),
              "The launcher window has closed");
    EXPECT_EQ(runs, 1);
}
