// Fan-curve control: what a curve text accepts, and the speeds a run of readings produces.
#include "core/CurveControl.h"

#include <gtest/gtest.h>

#include <tuple>

TEST(CurveControl, ParsesOnlyWellFormedCurves)
{
    const char* const refused[] = {
        "TC0P,40:1000",         "TC0P,60:1000,40:3000",        "TC0P,40:1000,40:3000",
        "TC0,40:1000,60:3000",  "TC0P,40:1000,60:-1",          "TC0P,0:1000,60:3000",
        "TC0P,40-1000,60:3000", "TC0P,40:1000,hyst=2,60:3000", "TC0P,40:1000,60:3000,hyst=-1",
        "TC0P,40:1000,128:3000"};
    for (const char* text : refused) {
        CurveControl curve(QStringLiteral("none"), {}, 9);
        QString error;
        EXPECT_FALSE(CurveControl::parse(text, curve, &error)) << text;
        EXPECT_TRUE(!error.isEmpty() && curve.points().isEmpty() && curve.hysteresis() == 9);
    }
    CurveControl curve;
    ASSERT_TRUE(CurveControl::parse("TC0P,40:1000,127:3000", curve, nullptr));
    ASSERT_TRUE(CurveControl::parse("TC0P,40:1000,60:3000", curve, nullptr));
    EXPECT_EQ(curve.hysteresis(), 0);
    ASSERT_TRUE(CurveControl::parse("TC0P,40:1000,50:2000,70:5000,hyst=3", curve, nullptr));
    EXPECT_EQ(curve.sensorKey(), QStringLiteral("TC0P"));
    EXPECT_EQ(curve.hysteresis(), 3);
    EXPECT_EQ(curve.rpmAt(60), 3500); // half way along the second segment
}

TEST(CurveControl, FollowsTheCurveWithHysteresisOnTheWayDown)
{
    // 1000 RPM at 40 C to 3000 at 60 C, 3 degrees of hysteresis, a fan of 1200..2800 RPM.
    CurveControl curve(QStringLiteral("TC0P"), {{40, 1000}, {60, 3000}}, 3);
    const std::tuple<int, quint32, int> steps[] = {
        {30, 0, 1200},  // below the curve's speed: the fan's minimum
        {30, 1, -1},    // unchanged
        {50, 2, 2000},  // half way up the line
        {51, 3, 2100},  // rises are followed at once
        {48, 5, -1},    // exactly the hysteresis below: still held
        {47, 6, 2000},  // past it: read 3 degrees above the reading
        {47, 36, -1},   // 30 s after the last speed
        {47, 37, 2000}, // 31 s: sent again
        {0, 38, -1},    // a failed read changes nothing
        {70, 39, 2800}, // beyond the curve: the fan's maximum
        {61, 40, -1}};  // still at the maximum
    for (const auto& [temperature, nowSecs, expected] : steps)
        EXPECT_EQ(curve.update(temperature, 1200, 2800, nowSecs), expected)
            << temperature << " C at " << nowSecs << " s";
    EXPECT_EQ(curve.update(65, 0, 0, 100), -1); // a fan whose range is not known yet
    curve.reset();
    EXPECT_EQ(curve.update(45, 1200, 2800, 41), 1500);
}
