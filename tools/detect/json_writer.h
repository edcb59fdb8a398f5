#pragma once
// A small JSON writer for the batch command's report: values are written as
// they come, two spaces an indent level, an object or array opened "inline"
// on one line (one point a line keeps long reports readable). Numbers are
// written with 17 significant digits, so each reads back as the same double;
// strings are escaped, and bytes that are not UTF-8 become U+FFFD, so the
// output is always valid UTF-8.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qova {

// The shortest "%.17g" text of v, '.' whatever the locale; v must be finite.
std::string RoundTripNumber(double v);

class JsonWriter {
 public:
  void BeginObject(bool inlined = false) { Open('{', inlined); }
  void EndObject() { Close('}'); }
  void BeginArray(bool inlined = false) { Open('[', inlined); }
  void EndArray() { Close(']'); }
  // The key of the next value of the object open.
  void Key(std::string_view key);

  void String(std::string_view text);
  // A finite number; NaN and infinities (which JSON cannot hold) as null.
  void Number(double v);
  void Int(int64_t v);
  void Bool(bool v);
  void Null();

  // The document, with a final line end once everything is closed.
  std::string Text() const { return text_ + "\n"; }

 private:
  struct Level {
    bool inlined;
    bool empty = true;
  };
  void Open(char bracket, bool inlined);
  void Close(char bracket);
  // Before a value: the comma and line break its place needs.
  void Separate();
  void Indent();
  void Escaped(std::string_view text);

  std::string text_;
  std::vector<Level> levels_;
  bool afterKey_ = false;
};

}  // namespace qova
