#pragma once
// The small value types every stage keeps its geometry in: points, owning
// lists of points, growable arrays and the crossing record.
//
// Pixel convention, once for the whole program: pixel (i, j) is the point
// (i, j); x is the column and grows to the right, y is the row and grows
// downwards, (0, 0) is the top-left pixel. Per-pixel arrays are indexed [x][y].

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/qova_error.h"

namespace qova {

// Colour value: red in the low byte, green in the second, blue in the third.
using Color = int32_t;
inline constexpr Color kWhite = 0xFFFFFF;
inline constexpr Color kBlack = 0;

// Where a drawable item paints itself.
class Canvas {
 public:
  virtual ~Canvas() = default;
  // Fills the pixels left <= x < right, top <= y < bottom.
  virtual void FillRect(int left, int top, int right, int bottom, Color color) = 0;
};

class VT_Drawable {
 public:
  virtual ~VT_Drawable() = default;
  virtual void Draw(Canvas& canvas, int32_t originX, int32_t originY, double scaleX,
                    double scaleY) const = 0;
  virtual double GetY1() const = 0;
  virtual double GetY2() const = 0;
  virtual double GetX1() const = 0;
  virtual double GetX2() const = 0;
};

// A point in image pixels. The line lists reuse it for a straight line:
// x holds the slope and y the offset.
class VT_Point : public VT_Drawable {
 public:
  VT_Point(double x_, double y_) : x(x_), y(y_) {}
  VT_Point(const VT_Point& other) : VT_Drawable(), x(other.x), y(other.y) {}
  VT_Point& operator=(const VT_Point& other) {
    x = other.x;
    y = other.y;
    return *this;
  }

  // Fills the point's cell scaled from the origin; x runs horizontally, as
  // everywhere else in the program.
  void Draw(Canvas& canvas, int32_t originX, int32_t originY, double scaleX,
            double scaleY) const override;
  double GetY1() const override { return y; }
  double GetY2() const override { return y; }
  double GetX1() const override { return x; }
  double GetX2() const override { return x; }

  qova::Color Color = kBlack;  // the colour Draw fills with
  double x;
  double y;
};

inline constexpr const char* kListIndexError = "Index out of bounds ListOfT::Get";
inline constexpr const char* kListParamError = "Wrong parameter transferred to ListOfT::ListOfT";

// Ordered, indexed list of pointers. An owning list (owns = 1) destroys an
// element when it removes it and all elements when it is destroyed.
template <class T>
class ListOfT {
 public:
  explicit ListOfT(int owns) {
    if (owns != 0 && owns != 1) throw QovaError(kListParamError);
    Owns = static_cast<uint8_t>(owns);
  }
  ~ListOfT() { Clear(); }
  ListOfT(const ListOfT&) = delete;
  ListOfT& operator=(const ListOfT&) = delete;
  // A list moves with its points and its ownership; the source is left empty.
  ListOfT(ListOfT&& other) noexcept : Items(std::move(other.Items)), Owns(other.Owns) {
    other.Items.clear();
  }
  ListOfT& operator=(ListOfT&& other) noexcept {
    if (this != &other) {
      Clear();
      Items = std::move(other.Items);
      Owns = other.Owns;
      other.Items.clear();
    }
    return *this;
  }

  // Appends the pointer; an owning list takes ownership.
  T* Add(T* item) {
    std::unique_ptr<T> guard(Owns ? item : nullptr);
    Items.push_back(item);
    guard.release();
    return item;
  }
  // Creates a new element at the end.
  template <class... Args>
  T* AddNew(Args&&... args) {
    return Add(new T(std::forward<Args>(args)...));
  }

  int32_t Count() const { return static_cast<int32_t>(Items.size()); }

  T* Get(int32_t index) const {
    CheckIndex(index);
    return Items[static_cast<size_t>(index)];
  }

  void Delete(int32_t index) {
    CheckIndex(index);
    T* item = Items[static_cast<size_t>(index)];
    Items.erase(Items.begin() + index);
    if (Owns) delete item;
  }

  void Clear() {
    if (Owns)
      for (T* item : Items) delete item;
    Items.clear();
  }

  bool OwnsItems() const { return Owns == 1; }

 private:
  void CheckIndex(int32_t index) const {
    if (index < 0 || index >= Count()) throw RangeError(kListIndexError);
  }

  std::vector<T*> Items;
  uint8_t Owns = 1;
};

using VT_Points = ListOfT<VT_Point>;

// Growable array of values with bounds-checked indexing.
template <class T>
class DynamicArray {
 public:
  int32_t Length() const { return static_cast<int32_t>(items_.size()); }
  void SetLength(int32_t n) {
    if (n < 0) throw RangeError("Range check error: negative length " + std::to_string(n));
    items_.resize(static_cast<size_t>(n));
  }
  // Grows the array by one and sets the new last element.
  T& Append(T value) {
    items_.push_back(std::move(value));
    return items_.back();
  }
  // Removes one element; the later ones move down by one.
  void RemoveAt(int32_t index) {
    Check(index);
    items_.erase(items_.begin() + index);
  }
  T& operator[](int32_t index) {
    Check(index);
    return items_[static_cast<size_t>(index)];
  }
  const T& operator[](int32_t index) const {
    Check(index);
    return items_[static_cast<size_t>(index)];
  }
  auto begin() { return items_.begin(); }
  auto end() { return items_.end(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  void Check(int32_t index) const {
    if (index < 0 || index >= Length())
      throw RangeError("Range check error: index " + std::to_string(index) + ", length " +
                       std::to_string(Length()));
  }
  std::vector<T> items_;
};

// One crossing of a vertical line x = VerticalSlope·y + VerticalOffset with a
// horizontal line y = HorizontalSlope·x + HorizontalOffset.
struct CrossNode {
  double VerticalSlope = 0;
  double VerticalOffset = 0;
  double HorizontalSlope = 0;
  double HorizontalOffset = 0;
};

}  // namespace qova
