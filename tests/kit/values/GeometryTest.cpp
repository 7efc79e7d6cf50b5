#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "kit/base/Geometry.h"

namespace kit {
namespace {

TEST(GeometryText, Forms) {
    EXPECT_EQ(stringFromSize({400, 324}), "{400, 324}");
    EXPECT_EQ(stringFromPoint({12.5, -3}), "{12.5, -3}");
    EXPECT_EQ(stringFromPoint({-0.0, 0.1}), "{0, 0.1}");
    EXPECT_EQ(stringFromRect(Rect(1, 2, 3, 4)), "{{1, 2}, {3, 4}}");
    EXPECT_EQ(stringFromRect(Rect(-10.25, 1e20, 1440, 900.5)), "{{-10.25, 1e+20}, {1440, 900.5}}");
}

TEST(GeometryText, FormsReadBackExactly) {
    const Rect rects[] = {Rect(0.1 + 0.2, 1.0 / 3, -2.5e-7, 123456.789), Rect(1e-300, -1e300, 7, 0)};
    for (const Rect& r : rects) {
        EXPECT_EQ(rectFromString(stringFromRect(r)), r) << stringFromRect(r);
        EXPECT_EQ(pointFromString(stringFromPoint(r.origin)), r.origin);
        EXPECT_EQ(sizeFromString(stringFromSize(r.size)), r.size);
    }
}

struct ParseRow {
    const char* text;
    Rect rect;  // the first four numbers; points and sizes take the first two
};

class GeometryParse : public testing::TestWithParam<ParseRow> {};

TEST_P(GeometryParse, TakesNumbersInOrder) {
    const ParseRow& row = GetParam();
    EXPECT_EQ(rectFromString(row.text), row.rect);
    EXPECT_EQ(pointFromString(row.text), row.rect.origin);
    const Size size = sizeFromString(row.text);
    EXPECT_EQ(size.width, row.rect.origin.x);
    EXPECT_EQ(size.height, row.rect.origin.y);
}

INSTANTIATE_TEST_SUITE_P(
    Table, GeometryParse,
    testing::Values(ParseRow{"{1, 2", Rect(1, 2, 0, 0)}, ParseRow{"", Rect()}, ParseRow{"garbage", Rect()},
                    ParseRow{"{{1,2},{3}}", Rect(1, 2, 3, 0)}, ParseRow{"{{10, 20}, {30, 40}}", Rect(10, 20, 30, 40)},
                    ParseRow{"{-1.5e2, +3}", Rect(-150, 3, 0, 0)}, ParseRow{"{.5, 5.}", Rect(0.5, 5, 0, 0)},
                    ParseRow{"{1e, 2}", Rect(1, 2, 0, 0)}, ParseRow{"x1y2", Rect(1, 2, 0, 0)},
                    ParseRow{"1-2", Rect(1, -2, 0, 0)}, ParseRow{"{{1, 2}, {3, 4}} 5", Rect(1, 2, 3, 4)},
                    ParseRow{"{nan, inf}", Rect()}, ParseRow{"{1e999, -1e-999}", Rect(HUGE_VAL, -0.0, 0, 0)},
                    ParseRow{"{ 400 ,\n324 }", Rect(400, 324, 0, 0)}));

TEST(RectTest, EdgesAndStandardizing) {
    const Rect flipped(10, 20, -4, -6);
    EXPECT_EQ(flipped.standardized(), Rect(6, 14, 4, 6));
    EXPECT_EQ(flipped.minX(), 6);
    EXPECT_EQ(flipped.midX(), 8);
    EXPECT_EQ(flipped.maxX(), 10);
    EXPECT_EQ(flipped.minY(), 14);
    EXPECT_EQ(flipped.midY(), 17);
    EXPECT_EQ(flipped.maxY(), 20);
    EXPECT_TRUE(flipped.isEmpty());
    EXPECT_TRUE(Rect(0, 0, 0, 5).isEmpty());
    EXPECT_FALSE(Rect(0, 0, 1, 1).isEmpty());
}

TEST(RectTest, PointContainmentIsHalfOpenLikeAnUnflippedView) {
    const Rect r(0, 0, 10, 10);
    EXPECT_TRUE(r.contains(Point{0, 10}));    // top-left corner
    EXPECT_FALSE(r.contains(Point{0, 0}));    // the bottom edge is outside
    EXPECT_FALSE(r.contains(Point{10, 5}));   // the right edge is outside
    EXPECT_TRUE(r.contains(Point{9.99, 0.01}));
    EXPECT_FALSE(r.contains(Point{5, 10.01}));
    // Two stacked rectangles share no point.
    const Rect above(0, 10, 10, 10);
    EXPECT_FALSE(above.contains(Point{5, 10}));
    EXPECT_FALSE(Rect(5, 5, 0, 0).contains(Point{5, 5}));
}

TEST(RectTest, RectangleRelations) {
    const Rect r(0, 0, 10, 10);
    EXPECT_TRUE(r.contains(Rect(0, 0, 10, 10)));
    EXPECT_TRUE(r.contains(Rect(2, 2, 3, 3)));
    EXPECT_FALSE(r.contains(Rect(2, 2, 9, 3)));
    EXPECT_FALSE(r.contains(Rect(2, 2, 0, 0)));

    EXPECT_TRUE(r.intersects(Rect(9, 9, 5, 5)));
    EXPECT_FALSE(r.intersects(Rect(10, 0, 5, 5)));  // touching edges
    EXPECT_FALSE(r.intersects(Rect(3, 3, 0, 4)));

    EXPECT_EQ(r.intersection(Rect(5, -5, 10, 10)), Rect(5, 0, 5, 5));
    EXPECT_EQ(r.intersection(Rect(20, 20, 1, 1)), Rect());
    EXPECT_EQ(r.intersection(Rect(15, 5, -10, -10)), Rect(5, 0, 5, 5));

    EXPECT_EQ(r.unionWith(Rect(20, -5, 5, 5)), Rect(0, -5, 25, 15));
    EXPECT_EQ(r.unionWith(Rect(100, 100, 0, 0)), r);
    EXPECT_EQ(Rect(100, 100, 0, 0).unionWith(r), r);
    EXPECT_EQ(Rect().unionWith(Rect(1, 1, 0, 3)), Rect());

    EXPECT_EQ(r.insetBy(2, 3), Rect(2, 3, 6, 4));
    EXPECT_EQ(r.insetBy(-1, -1), Rect(-1, -1, 12, 12));
    EXPECT_EQ(r.offsetBy(5, -5), Rect(5, -5, 10, 10));
}

}  // namespace
}  // namespace kit
