// Progress indicator: sub-range arithmetic, null indicators, stop requests.
#include "base/progress.h"

#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace {

// Records every position shown and asks to stop once a position reaches stopAt.
class Recorder : public TIndicadorEstat {
public:
    std::vector<double> shown;
    double stopAt = std::numeric_limits<double>::infinity();

protected:
    void MostrarPosicio(double pos) override
    {
        shown.push_back(pos);
        if (pos >= stopAt)
            Aturar();
    }
};

TEST(Progress, NestedSubRangesMapToAbsolutePositions)
{
    Recorder ie;
    ie.SetRang(0.0, 100.0);
    double lo = 0, hi = 0;
    ASSERT_EQ(ie.SetRangPosicioRel(1, 4), 1); // [25, 50]
    ie.GetRang(lo, hi);
    EXPECT_DOUBLE_EQ(lo, 25.0);
    EXPECT_DOUBLE_EQ(hi, 50.0);
    ASSERT_EQ(ie.SetRangPosicioRel(2, 5), 1); // [35, 40]
    ie.GetRang(lo, hi);
    EXPECT_DOUBLE_EQ(lo, 35.0);
    EXPECT_DOUBLE_EQ(hi, 40.0);
    ASSERT_EQ(ie.SetRangPosicioRel(9, 10), 1); // [39.5, 40]
    EXPECT_DOUBLE_EQ(ie.GetPosicio(), 39.5);
    EXPECT_EQ(ie.GetProfunditat(), 3u);
    EXPECT_EQ(ie.PopRangRel(), 1);
    EXPECT_DOUBLE_EQ(ie.GetPosicio(), 40.0);
    EXPECT_EQ(ie.PopRangRel(), 1);
    EXPECT_DOUBLE_EQ(ie.GetPosicio(), 40.0);
    ie.GetRang(lo, hi);
    EXPECT_DOUBLE_EQ(lo, 25.0);
    EXPECT_EQ(ie.PopRangRel(), 1);
    EXPECT_DOUBLE_EQ(ie.GetPosicio(), 50.0);
    // Unbalanced pops close nothing.
    EXPECT_EQ(ie.PopRangRel(), 1);
    EXPECT_EQ(ie.GetProfunditat(), 0u);
    EXPECT_DOUBLE_EQ(ie.GetPosicio(), 50.0);
}

TEST(Progress, LoopOfStepsIsMonotonicAndEndsAtHigh)
{
    Recorder ie;
    for (std::uint64_t i = 0; i < 7; ++i) {
        CSetSubRangIE step(&ie, i, 7);
        ASSERT_EQ(step.Continuar(), 1);
        for (std::uint64_t j = 0; j < 3; ++j) {
            CSetSubRangIE inner(&ie, j, 3);
        }
    }
    ASSERT_FALSE(ie.shown.empty());
    for (std::size_t k = 1; k < ie.shown.size(); ++k)
        EXPECT_LE(ie.shown[k - 1], ie.shown[k]) << k;
    EXPECT_DOUBLE_EQ(ie.shown.back(), 1.0);
    EXPECT_EQ(ie.GetProfunditat(), 0u);
}

TEST(Progress, DegenerateSteps)
{
    TIndicadorEstat ie;
    ie.SetRang(10.0, 20.0);
    double lo, hi;
    struct Case {
        std::uint64_t pos, total;
        double lo, hi;
    } cases[] = {
        {0, 0, 10.0, 20.0},                                     // no steps: the whole range
        {5, 0, 10.0, 20.0},     {3, 3, 20.0, 20.0},             // past the end: empty at the end
        {~0ull, 2, 20.0, 20.0}, {~0ull - 1, ~0ull, 20.0, 20.0}, // 64-bit counts: the last step
        {0, ~0ull, 10.0, 10.0},
    };
    for (const Case& c : cases) {
        ie.SetRangPosicioRel(c.pos, c.total);
        ie.GetRang(lo, hi);
        EXPECT_NEAR(lo, c.lo, 1e-9) << c.pos << "/" << c.total;
        EXPECT_NEAR(hi, c.hi, 1e-9) << c.pos << "/" << c.total;
        EXPECT_LE(lo, hi);
        ie.PopRangRel();
    }
}

TEST(Progress, NullIndicatorNeverStops)
{
    double lo = -1, hi = -1;
    TIndicadorEstat::GetRang(nullptr, lo, hi);
    EXPECT_EQ(lo, 0.0);
    EXPECT_EQ(hi, 1.0);
    EXPECT_EQ(TIndicadorEstat::SetRangPosicioRel(nullptr, 3, 10), 1);
    EXPECT_EQ(TIndicadorEstat::PopRangRel(nullptr), 1);
    CSetSubRangIE step(nullptr, 1, 2);
    EXPECT_EQ(step.Continuar(), 1);
    EXPECT_EQ(step.Tancar(), 1);
}

TEST(Progress, StopRequestIsReportedByEveryAnswer)
{
    Recorder ie;
    ie.stopAt = 0.5;
    EXPECT_EQ(ie.SetRangPosicioRel(0, 4), 1);
    EXPECT_EQ(ie.PopRangRel(), 1); // position 0.25
    EXPECT_EQ(ie.SetRangPosicioRel(1, 4), 1);
    EXPECT_EQ(ie.PopRangRel(), 0); // position 0.5: the hook asked to stop
    EXPECT_NE(ie.Cancelat(), 0);
    EXPECT_EQ(ie.SetRangPosicioRel(2, 4), 0);
    EXPECT_EQ(ie.SetPosicio(0.1), 0);
    {
        CSetSubRangIE step(&ie, 3, 4);
        EXPECT_EQ(step.Continuar(), 0);
        EXPECT_EQ(step.Tancar(), 0);
        EXPECT_EQ(step.Tancar(), 1); // already closed
    }
    ie.Rearmar();
    ie.stopAt = std::numeric_limits<double>::infinity();
    EXPECT_EQ(ie.SetPosicio(0.9), 1);
}

TEST(Progress, PositionsAreClampedToTheWholeRange)
{
    Recorder ie;
    ie.SetRang(5.0, 1.0); // reversed: swapped
    EXPECT_EQ(ie.GetPosicio(), 1.0);
    ie.SetPosicio(-3.0);
    ie.SetPosicio(9.0);
    ie.SetPosicio(std::numeric_limits<double>::quiet_NaN());
    ASSERT_EQ(ie.shown.size(), 3u);
    EXPECT_EQ(ie.shown[0], 1.0);
    EXPECT_EQ(ie.shown[1], 5.0);
    EXPECT_EQ(ie.shown[2], 1.0);
}

} // namespace
