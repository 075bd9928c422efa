#include "platform/ZNFValueReading.h"

#include <QDateTime>
#include <QVariantList>
#include <gtest/gtest.h>
#include <limits>

namespace {

constexpr std::optional<double> kNone = std::nullopt;

struct Row {
    const char* name;
    QVariant value;
    bool isNumber;
    std::optional<double> number;
    bool truth;
};

class ValueReading : public testing::TestWithParam<Row> {};

TEST_P(ValueReading, OneReadingForEveryCaller) {
    const Row& row = GetParam();
    EXPECT_EQ(ZNFIsNumber(row.value), row.isNumber);
    EXPECT_EQ(ZNFNumberReading(row.value), row.number);
    EXPECT_EQ(ZNFBoolReading(row.value), row.truth);
}

// Booleans are numbers; numeric strings are not numbers but read as their leading decimal.
// clang-format off
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN(), kInf = std::numeric_limits<double>::infinity();
INSTANTIATE_TEST_SUITE_P(Rows, ValueReading, testing::Values(
    Row{"True", true, true, 1.0, true}, Row{"False", false, true, 0.0, false}, Row{"Int", 3, true, 3.0, true},
    Row{"Zero", 0, true, 0.0, false}, Row{"ULongLong", quint64(7), true, 7.0, true},
    Row{"Float", 0.5f, true, 0.5, true}, Row{"Double", -2.25, true, -2.25, true},
    Row{"NaN", kNaN, true, kNone, true}, Row{"Infinity", kInf, true, kNone, true},
    Row{"DecimalPrefix", "  12.5pt", false, 12.5, true}, Row{"SignedString", "-3", false, -3.0, true},
    Row{"Unreadable", "abc", false, 0.0, false}, Row{"InfText", "inf", false, 0.0, false},
    Row{"HexText", "0x10", false, 0.0, false}, Row{"Yes", " yes", false, 0.0, true},
    Row{"TrueText", "True", false, 0.0, true}, Row{"ZerosThenDigit", "+007", false, 7.0, true},
    Row{"No", "no", false, 0.0, false}, Row{"Empty", QString(), false, 0.0, false},
    Row{"Null", QVariant(), false, kNone, false}, Row{"List", QVariantList{1}, false, kNone, false},
    Row{"Date", QDateTime::fromSecsSinceEpoch(1), false, kNone, false}),
    [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });
// clang-format on

} // namespace
