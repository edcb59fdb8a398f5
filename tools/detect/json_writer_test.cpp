// The JSON writer against Qt's JSON reader: what is written parses, numbers
// come back bit for bit, strings come back as written (bytes that are not
// UTF-8 as U+FFFD), and the layout puts an inline container on one line.
#include "tools/detect/json_writer.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <bit>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace qova {
namespace {

QJsonDocument Parse(const std::string& text) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << " in\n"
                                                   << text;
  return document;
}

TEST(JsonWriter, NumbersReadBackAsTheSameDoubles) {
  std::mt19937_64 random(17);
  std::vector<double> values = {0.0,    -0.0,  0.1,  1.0 / 3.0, 123456.78901234567,
                                1e-300, 1e300, -2.5, 4096.0,    std::numeric_limits<double>::min(),
                                5e-324, 1e21,  1e-7};
  for (int i = 0; i < 2000; ++i) {
    double v;
    do v = std::bit_cast<double>(random());
    while (!std::isfinite(v));
    values.push_back(v);
  }
  // The user's locale must not turn the point into a comma.
  std::setlocale(LC_NUMERIC, "ru_RU.UTF-8");
  JsonWriter json;
  json.BeginArray();
  for (const double v : values) json.Number(v);
  json.EndArray();
  std::setlocale(LC_NUMERIC, "C");
  const QJsonArray read = Parse(json.Text()).array();
  ASSERT_EQ(read.size(), static_cast<qsizetype>(values.size()));
  // == is bit for bit on finite doubles but for the sign of zero.
  for (size_t i = 0; i < values.size(); ++i)
    EXPECT_EQ(read[static_cast<qsizetype>(i)].toDouble(), values[i]) << RoundTripNumber(values[i]);
  EXPECT_EQ(RoundTripNumber(0.1), "0.10000000000000001");
  EXPECT_EQ(RoundTripNumber(100.5), "100.5");
}

TEST(JsonWriter, StringsAreEscapedAndAlwaysUtf8) {
  const std::string cases[] = {
      "plain",
      "quote \" backslash \\ slash /",
      "line\nfeed\rtab\tbell\x07 nul-free \x1f del\x7f",
      "Невозможно найти точки. Попробуйте изменить параметры.",
      "emoji \xF0\x9F\x98\x80 and \xE2\x80\xA8",
  };
  JsonWriter json;
  json.BeginObject();
  for (size_t i = 0; i < std::size(cases); ++i) {
    json.Key(std::string(1, 'k') += std::to_string(i));
    json.String(cases[i]);
  }
  json.Key("bad");
  json.String(
      "a\xFF"
      "b\xC0\xAF"
      "c\xED\xA0\x80"
      "d\xE2\x82");
  json.EndObject();
  const QJsonObject read = Parse(json.Text()).object();
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(read["k" + QString::number(i)].toString().toStdString(), cases[i]);
  const QString bad = read["bad"].toString();
  EXPECT_TRUE(bad.startsWith("a\uFFFDb")) << bad.toStdString();
  EXPECT_TRUE(bad.contains("c\uFFFD")) << bad.toStdString();
  EXPECT_TRUE(bad.endsWith("d\uFFFD\uFFFD")) << bad.toStdString();
}

TEST(JsonWriter, NestedContainersAndTheirLayout) {
  JsonWriter json;
  json.BeginObject();
  json.Key("empty");
  json.BeginArray();
  json.EndArray();
  json.Key("points");
  json.BeginArray();
  for (int i = 0; i < 2; ++i) {
    json.BeginObject(true);
    json.Key("index");
    json.Int(i + 1);
    json.Key("xy");
    json.BeginArray(true);
    json.Number(1.5);
    json.Number(-2);
    json.EndArray();
    json.Key("ok");
    json.Bool(i == 0);
    json.Key("none");
    json.Null();
    json.EndObject();
  }
  json.EndArray();
  json.Key("nan");
  json.Number(std::numeric_limits<double>::quiet_NaN());
  json.EndObject();
  EXPECT_EQ(json.Text(),
            "{\n"
            "  \"empty\": [],\n"
            "  \"points\": [\n"
            "    {\"index\": 1, \"xy\": [1.5, -2], \"ok\": true, \"none\": null},\n"
            "    {\"index\": 2, \"xy\": [1.5, -2], \"ok\": false, \"none\": null}\n"
            "  ],\n"
            "  \"nan\": null\n"
            "}\n");
  Parse(json.Text());
}

}  // namespace
}  // namespace qova
