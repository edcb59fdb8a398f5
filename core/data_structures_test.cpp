#include "core/data_structures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qova {
namespace {

// A point that counts its destructions, to tell owning from non-owning lists.
struct CountedPoint : VT_Point {
  CountedPoint(double x_, double y_, int* destroyed_) : VT_Point(x_, y_), destroyed(destroyed_) {}
  ~CountedPoint() override { ++*destroyed; }
  int* destroyed;
};

template <class F>
std::string ErrorText(F f) {
  try {
    f();
  } catch (const QovaError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(VT_Point, KeepsColumnAndRow) {
  const VT_Point p(3, 7);
  EXPECT_EQ(p.x, 3);
  EXPECT_EQ(p.y, 7);
  EXPECT_EQ(p.GetX1(), 3);
  EXPECT_EQ(p.GetX2(), 3);
  EXPECT_EQ(p.GetY1(), 7);
  EXPECT_EQ(p.GetY2(), 7);
  VT_Point q(0, 0);
  q.Color = 0x123456;
  q = p;  // copies the coordinates only
  EXPECT_EQ(q.x, 3);
  EXPECT_EQ(q.y, 7);
  EXPECT_EQ(q.Color, 0x123456);
}

TEST(VT_Point, DrawFillsItsScaledCell) {
  struct Recorder : Canvas {
    void FillRect(int l, int t, int r, int b, Color c) override {
      calls.push_back({l, t, r, b, c});
    }
    std::vector<std::vector<int>> calls;
  } canvas;
  VT_Point p(3, 7);
  p.Color = 0xFF;
  p.Draw(canvas, 1, 2, 2.0, 3.0);
  ASSERT_EQ(canvas.calls.size(), 1u);
  // x runs horizontally: columns (3-1)·2 .. (3-1+1)·2, rows (7-2)·3 .. (7-2+1)·3.
  EXPECT_EQ(canvas.calls[0], (std::vector<int>{4, 15, 6, 18, 0xFF}));
}

TEST(ListOfT, RejectsOwnershipFlagOtherThanZeroOrOne) {
  EXPECT_EQ(ErrorText([] { VT_Points list(2); }), kListParamError);
  EXPECT_EQ(ErrorText([] { VT_Points list(-1); }), kListParamError);
  EXPECT_EQ(std::string(kListParamError), "Wrong parameter transferred to ListOfT::ListOfT");
  EXPECT_TRUE(VT_Points(1).OwnsItems());
  EXPECT_FALSE(VT_Points(0).OwnsItems());
}

TEST(ListOfT, GetChecksBothEndsAndLeavesListUnchanged) {
  VT_Points list(1);
  EXPECT_THROW(list.Get(0), RangeError);  // empty
  list.AddNew(1, 2);
  list.AddNew(3, 4);
  list.AddNew(5, 6);
  EXPECT_EQ(ErrorText([&] { list.Get(-1); }), "Index out of bounds ListOfT::Get");
  EXPECT_EQ(ErrorText([&] { list.Get(list.Count()); }), "Index out of bounds ListOfT::Get");
  EXPECT_EQ(ErrorText([&] { list.Delete(3); }), "Index out of bounds ListOfT::Get");
  EXPECT_EQ(ErrorText([&] { list.Delete(-1); }), "Index out of bounds ListOfT::Get");
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Get(2)->x, 5);  // the last one
  EXPECT_EQ(list.Get(0)->y, 2);
  list.Get(1)->x = 30;  // callers change points in place
  EXPECT_EQ(list.Get(1)->x, 30);
}

TEST(ListOfT, OwningDeleteDestroysTheRemovedPointOnly) {
  int destroyed = 0;
  {
    VT_Points list(1);
    for (int i = 0; i < 3; ++i) list.Add(new CountedPoint(i, 10 * i, &destroyed));
    list.Delete(1);
    EXPECT_EQ(destroyed, 1);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Get(0)->x, 0);
    EXPECT_EQ(list.Get(1)->x, 2);  // the former third moved down
    list.Clear();
    EXPECT_EQ(destroyed, 3);
    EXPECT_EQ(list.Count(), 0);
    list.Clear();  // on an empty list: nothing
    EXPECT_EQ(destroyed, 3);
    list.Add(new CountedPoint(9, 9, &destroyed));
  }
  EXPECT_EQ(destroyed, 4);  // the list's destruction takes the rest
}

TEST(ListOfT, NonOwningListNeverDestroys) {
  int destroyed = 0;
  std::vector<CountedPoint> points;
  points.reserve(3);
  for (int i = 0; i < 3; ++i) points.emplace_back(i, 0, &destroyed);
  {
    VT_Points list(0);
    for (auto& p : points) list.Add(&p);
    list.Delete(1);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Get(1), &points[2]);
    list.Clear();
    list.Add(&points[0]);
  }
  EXPECT_EQ(destroyed, 0);
}

TEST(DynamicArray, GrowingKeepsElementsAndShrinkingKeepsPrefix) {
  DynamicArray<VT_Points*> regions;
  VT_Points a(1), b(1), c(1);
  regions.SetLength(2);
  regions[0] = &a;
  regions[1] = &b;
  regions.SetLength(3);
  regions[2] = &c;
  EXPECT_EQ(regions[0], &a);
  EXPECT_EQ(regions[1], &b);
  regions.SetLength(1);
  ASSERT_EQ(regions.Length(), 1);
  EXPECT_EQ(regions[0], &a);
  regions.SetLength(0);
  EXPECT_EQ(regions.Length(), 0);

  DynamicArray<CrossNode> nodes;
  nodes.Append({1, 2, 3, 4});
  nodes.Append({5, 6, 7, 8});
  nodes.RemoveAt(0);
  ASSERT_EQ(nodes.Length(), 1);
  EXPECT_EQ(nodes[0].VerticalSlope, 5);
  EXPECT_EQ(nodes[0].HorizontalOffset, 8);
}

TEST(DynamicArray, OutOfRangeNamesIndexAndLength) {
  DynamicArray<int> a;
  a.SetLength(3);
  const std::string high = ErrorText([&] { a[3]; });
  EXPECT_NE(high.find("index 3"), std::string::npos) << high;
  EXPECT_NE(high.find("length 3"), std::string::npos) << high;
  const std::string low = ErrorText([&] { a[-1]; });
  EXPECT_NE(low.find("index -1"), std::string::npos) << low;
  volatile int32_t past = 3;  // not a constant: GCC 12 warns about the unreachable erase
  EXPECT_THROW(a.RemoveAt(past), RangeError);
  EXPECT_THROW(a.SetLength(-1), RangeError);
  EXPECT_EQ(a.Length(), 3);
  const DynamicArray<int>& constant = a;
  EXPECT_THROW(constant[5], RangeError);
}

}  // namespace
}  // namespace qova
