// JSON text with numbers in plain decimal.

#include "plain_json.h"

#include <boost/json/parse.hpp>
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <random>

namespace {

TEST(PlainJson, WritesFractionsInPlainDecimalAndTheRestAsBoostJsonDoes)
{
    struct Case {
        boost::json::value json;
        std::string text;
    };
    for (const Case& c : std::vector<Case>{
             {17.9, "17.9"},
             {0.93, "0.93"},
             {-873.25, "-873.25"},
             {1e21, "1e+21"},
             {std::numeric_limits<double>::quiet_NaN(), "null"},
             {{{"milliseconds", 1.5}, {"found", true}, {"corners", boost::json::array()}},
              R"({"milliseconds":1.5,"found":true,"corners":[]})"},
             {{{"a", boost::json::array{1, -2, 0.5, nullptr, "t\"x"}}, {"b", boost::json::object()}},
              R"({"a":[1,-2,0.5,null,"t\"x"],"b":{}})"},
         })
        EXPECT_EQ(tarvek::plainJson(c.json), c.text);
}

// Exactly, as an exact reader reads it (Boost.JSON's own reader may be a bit off in the last place).
TEST(PlainJson, EveryDoubleIsJsonThatReadsBackTheSame)
{
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> exponent(-30, 30), mantissa(-1, 1);
    for (int i = 0; i < 5000; ++i) {
        const double number = mantissa(random) * std::pow(10.0, exponent(random));
        const std::string text = tarvek::plainJson(number);
        double read = 0;
        std::from_chars(text.data(), text.data() + text.size(), read);
        EXPECT_EQ(read, number) << text;
        EXPECT_NEAR(boost::json::parse(text).to_number<double>(), number, std::abs(number) * 1e-15) << text;
    }
}

} // namespace
