// API keys: the file's lines and the comparison.

#include "api_keys.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using tarvek::service::equalInConstantTime;
using tarvek::service::keysIn;

TEST(ApiKeyFile, KeepsOneTrimmedKeyPerLineWithoutBlanksOrComments)
{
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"", {}},
        {"\n\n  \n", {}},
        {"# operators\nabc\n", {"abc"}},
        {"  abc  \r\ndef\n", {"abc", "def"}},
        {"last-without-newline", {"last-without-newline"}},
        {"a b\n#c\n d#e", {"a b", "d#e"}},
    };
    for (const auto& [text, keys] : cases)
        EXPECT_EQ(keysIn(text), keys) << text;
}

// The comparison agrees with == on every pair of short strings over a small alphabet,
// lengths differing or not, empty ones included.
TEST(ApiKeyComparison, AgreesWithEqualityOnManyPairs)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> length(0, 6), letter('a', 'c');
    for (int i = 0; i < 20000; ++i) {
        std::string a(length(random), ' '), b(length(random), ' ');
        for (char& c : a)
            c = static_cast<char>(letter(random));
        for (char& c : b)
            c = static_cast<char>(letter(random));
        ASSERT_EQ(equalInConstantTime(a, b), a == b) << a << " " << b;
        ASSERT_TRUE(equalInConstantTime(b, b)) << b;
    }
}

} // namespace
