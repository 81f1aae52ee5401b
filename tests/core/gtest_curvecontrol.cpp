// Fan-curve control: what a curve text accepts, and the speeds a run of readings produces.
#include "core/CurveControl.h"

#include <gtest/gtest.h>

TEST(CurveControl, ParsesOnlyWellFormedCurves)
{
    const struct
    {
        const char* text;
        int nPoints; // 0: refused
        int nHysteresis;
    } rows[] = {{"TC0P,40:1000,60:3000", 2, 0},
                {"TC0P,40:1000,50:2000,70:5000,hyst=3", 3, 3},
                {"TC0P,40:1000", 0, 0},
                {"TC0P,60:1000,40:3000", 0, 0},
                {"TC0P,40:1000,40:3000", 0, 0},
                {"TC0,40:1000,60:3000", 0, 0},
                {"TC0P,40:1000,60:-1", 0, 0},
                {"TC0P,0:1000,60:3000", 0, 0},
                {"TC0P,40:1000,hyst=2,60:3000", 0, 0},
                {"TC0P,40:1000,60:3000,hyst=-1", 0, 0},
                {"TC0P,40-1000,60:3000", 0, 0}};
    for (const auto& row : rows) {
        CurveControl curve(QStringLiteral("none"), {}, 9);
        QString error;
        const bool bOk = CurveControl::parse(QString::fromLatin1(row.text), curve, &error);
        EXPECT_EQ(bOk, row.nPoints > 0) << row.text;
        EXPECT_EQ(error.isEmpty(), bOk) << row.text;
        EXPECT_EQ(curve.points().size(), row.nPoints > 0 ? row.nPoints : 0) << row.text;
        EXPECT_EQ(curve.hysteresis(), bOk ? row.nHysteresis : 9) << row.text;
        EXPECT_EQ(curve.sensorKey(), bOk ? QStringLiteral("TC0P") : QStringLiteral("none"));
    }
}

TEST(CurveControl, FollowsTheCurveWithHysteresisOnTheWayDown)
{
    // 1000 RPM at 40 C to 3000 at 60 C, 3 degrees of hysteresis, a fan of 1200..2800 RPM.
    CurveControl curve(QStringLiteral("TC0P"), {{40, 1000}, {60, 3000}}, 3);
    const struct
    {
        int temperature;
        quint32 nowSecs;
        int expected;
    } steps[] = {{30, 0, 1200},  // below the curve's speed: the fan's minimum
                 {30, 1, -1},    // unchanged
                 {50, 2, 2000},  // half way up the line
                 {51, 3, 2100},  // rises are followed at once
                 {49, 4, -1},    // within the hysteresis
                 {48, 5, -1},    // exactly the hysteresis below: still held
                 {47, 6, 2000},  // past it: read 3 degrees above the reading
                 {47, 36, -1},   // 30 s after the last speed
                 {47, 37, 2000}, // 31 s: sent again
                 {0, 38, -1},    // a failed read changes nothing
                 {70, 39, 2800}, // beyond the curve: the fan's maximum
                 {61, 40, -1}};  // still at the maximum
    for (const auto& step : steps)
        EXPECT_EQ(curve.update(step.temperature, 1200, 2800, step.nowSecs), step.expected)
            << step.temperature << " C at " << step.nowSecs << " s";
    EXPECT_EQ(curve.update(65, 0, 0, 100), -1); // a fan whose range is not known yet
    curve.reset();
    EXPECT_EQ(curve.update(45, 1200, 2800, 41), 1500);
}
