#include <gtest/gtest.h>

#include "Conversions.h"

namespace {

struct Accepted {
    const char* text;
    int32_t value;
};

void PrintTo(const Accepted& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class StrToIntAccepts : public testing::TestWithParam<Accepted> {};

TEST_P(StrToIntAccepts, DecimalIntegersWithOptionalSign) {
    EXPECT_EQ(StrToInt(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Texts, StrToIntAccepts,
                         testing::Values(Accepted{"0", 0}, Accepted{"-0", 0}, Accepted{"+5", 5},
                                         Accepted{"007", 7}, Accepted{"-32768", -32768},
                                         Accepted{"2147483647", 2147483647},
                                         Accepted{"-2147483648", INT32_MIN},
                                         Accepted{"00000000000000000012", 12}));

class StrToIntRefuses : public testing::TestWithParam<const char*> {};

TEST_P(StrToIntRefuses, WithTheTextInTheMessage) {
    const std::string text = GetParam();
    try {
        StrToInt(text);
        FAIL() << "accepted '" << text << "'";
    } catch (const ConversionError& error) {
        EXPECT_EQ(std::string(error.what()), "'" + text + "' is not a valid integer value");
        EXPECT_EQ(error.Text(), text);
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, StrToIntRefuses,
                         testing::Values("", "-", "+", " 5", "5 ", "0x10", "$10", "1e3", "12a",
                                         "--1", "+-1", "2147483648", "-2147483649",
                                         "99999999999999999999", "1.5", "\xE2\x82\xAC"));

TEST(NumberToText, FormatsLikeTheBoxTools) {
    EXPECT_EQ(ShortToText(-1), "-1");
    EXPECT_EQ(ShortToText(static_cast<int16_t>(0x8000)), "-32768");
    EXPECT_EQ(ShortToText(32767), "32767");
    EXPECT_EQ(WordToText(65535), "65535");
    EXPECT_EQ(IntToText(INT32_MIN), "-2147483648");
    EXPECT_EQ(IntToText(0), "0");
    EXPECT_EQ(CharToText('3'), "3");
    EXPECT_EQ(CharToText(0).size(), 1u);
}

}  // namespace
