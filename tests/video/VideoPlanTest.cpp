// The video's plan (which picture from which frame) and the list's scrolling.

#include "video/VideoPainter.h"

#include <gtest/gtest.h>

using namespace medlark;
using namespace Qt::StringLiterals;

// Each highlight change lands on the frame nearest its time; a chapter too
// short for a frame of its own gets none.
TEST(VideoPlan, ChangesLandOnTheNearestFrameAndLongListsScroll)
{
    std::vector<TChapter> chapters{{0, 10.02, u"A"_s}, {10.02, 10.03, u"B"_s}, {10.03, 20.0, u"C"_s}, {20.0, 64.49, u"D"_s}};
    const TVideoPlan plan = PlanVideo(chapters, 64.49);
    EXPECT_EQ(plan.TotalFrames, 1935);   // 64.49 s x 30 = 1934.7
    EXPECT_EQ(plan.FirstFrames, (std::vector<std::int64_t>{0, 301, 301, 600}));

    // Long lists scroll so that the highlighted row stays in view.
    std::vector<TChapter> many(25, TChapter{0, 1, u"x"_s});
    const TVideoPainter painter(u"M"_s, many, QImage());
    EXPECT_EQ(painter.FirstVisibleRow(0), 0);
    EXPECT_EQ(painter.FirstVisibleRow(2), 0);
    EXPECT_EQ(painter.FirstVisibleRow(12), 10);
    EXPECT_EQ(painter.FirstVisibleRow(24), 25 - TVideoPainter::VisibleRows());
    for (int h = 0; h < 25; ++h) {
        const int first = painter.FirstVisibleRow(h);
        EXPECT_TRUE(h >= first && h < first + TVideoPainter::VisibleRows()) << h;
    }
}
