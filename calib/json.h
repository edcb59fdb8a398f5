#pragma once
// A small JSON document: a value tree, a strict reader and a writer. The
// model file and the report are written with it. Numbers are doubles,
// written in the shortest form that reads back as the same double (and read
// with std::from_chars, whatever the locale), so a file read back gives the
// numbers written, bit for bit. Objects keep the order of their keys.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qova::calib {

// Text that is not JSON, or nested deeper than the reader allows; what()
// names the byte where reading stopped and why.
class JsonSyntaxError : public std::runtime_error {
 public:
  JsonSyntaxError(size_t offset, const std::string& why);
  size_t offset() const { return offset_; }

 private:
  size_t offset_;
};

class Json {
 public:
  enum class Kind { Null, Bool, Number, String, Array, Object };
  using Member = std::pair<std::string, Json>;

  Json() = default;  // null
  Json(bool b) : kind_(Kind::Bool), bool_(b) {}
  Json(double v) : kind_(Kind::Number), number_(v) {}
  Json(int v) : kind_(Kind::Number), number_(v) {}
  Json(long v) : kind_(Kind::Number), number_(static_cast<double>(v)) {}
  Json(unsigned long v) : kind_(Kind::Number), number_(static_cast<double>(v)) {}
  Json(const char* s) : kind_(Kind::String), string_(s) {}
  Json(std::string s) : kind_(Kind::String), string_(std::move(s)) {}
  Json(std::string_view s) : kind_(Kind::String), string_(s) {}
  static Json Array() { return Json(Kind::Array); }
  static Json Object() { return Json(Kind::Object); }
  // An array of numbers; a NaN or an infinity becomes null.
  static Json Numbers(const std::vector<double>& values);

  Kind kind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::Null; }
  bool IsNumber() const { return kind_ == Kind::Number; }
  bool IsString() const { return kind_ == Kind::String; }
  bool IsArray() const { return kind_ == Kind::Array; }
  bool IsObject() const { return kind_ == Kind::Object; }
  bool IsBool() const { return kind_ == Kind::Bool; }

  bool AsBool() const { return bool_; }
  double AsNumber() const { return number_; }
  const std::string& AsString() const { return string_; }
  const std::vector<Json>& Items() const { return items_; }
  const std::vector<Member>& Members() const { return members_; }

  // Arrays: appends. Objects: sets the key (replacing its value if present).
  Json& Push(Json value);
  Json& Set(std::string_view key, Json value);
  // Objects: appends a key the caller knows is new (the reader's fast path).
  Json& Append(std::string key, Json value);
  // The member of that key, or nullptr.
  const Json* Find(std::string_view key) const;

  // Strict RFC 8259 text (one value, whitespace around it); a key twice in
  // one object, a number out of the range of a double, text that is not
  // UTF-8 and nesting deeper than 200 levels are refused too.
  static Json Parse(std::string_view text);
  // Two spaces an indent level; arrays of numbers, strings and literals on
  // one line. Ends with a line end. A non-finite number is written as null.
  std::string Write() const;

 private:
  explicit Json(Kind kind) : kind_(kind) {}
  void WriteTo(std::string& out, int indent) const;

  Kind kind_ = Kind::Null;
  bool bool_ = false;
  double number_ = 0;
  std::string string_;
  std::vector<Json> items_;
  std::vector<Member> members_;
};

// The shortest text that reads back as v ('.' whatever the locale); v finite.
std::string ShortestNumber(double v);

}  // namespace qova::calib
