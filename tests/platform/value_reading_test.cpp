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
INSTANTIATE_TEST_SUITE_P(
    Rows, ValueReading,
    testing::Values(
        Row{"True", QVariant(true), true, 1.0, true}, Row{"False", QVariant(false), true, 0.0, false},
        Row{"Int", QVariant(3), true, 3.0, true}, Row{"Zero", QVariant(0), true, 0.0, false},
        Row{"ULongLong", QVariant(quint64(7)), true, 7.0, true},
        Row{"Float", QVariant(0.5f), true, 0.5, true}, Row{"Double", QVariant(-2.25), true, -2.25, true},
        Row{"NaN", QVariant(std::numeric_limits<double>::quiet_NaN()), true, kNone, true},
        Row{"Infinity", QVariant(std::numeric_limits<double>::infinity()), true, kNone, true},
        Row{"DecimalPrefix", QVariant(QStringLiteral("  12.5pt")), false, 12.5, true},
        Row{"SignedString", QVariant(QStringLiteral("-3")), false, -3.0, true},
        Row{"Unreadable", QVariant(QStringLiteral("abc")), false, 0.0, false},
        Row{"InfText", QVariant(QStringLiteral("inf")), false, 0.0, false},
        Row{"HexText", QVariant(QStringLiteral("0x10")), false, 0.0, false},
        Row{"Yes", QVariant(QStringLiteral(" yes")), false, 0.0, true},
        Row{"True text", QVariant(QStringLiteral("True")), false, 0.0, true},
        Row{"Zeros then digit", QVariant(QStringLiteral("+007")), false, 7.0, true},
        Row{"No", QVariant(QStringLiteral("no")), false, 0.0, false},
        Row{"Empty", QVariant(QString()), false, 0.0, false}, Row{"Null", QVariant(), false, kNone, false},
        Row{"List", QVariant(QVariantList{1}), false, kNone, false},
        Row{"Date", QVariant(QDateTime::fromSecsSinceEpoch(1)), false, kNone, false}),
    [](const testing::TestParamInfo<Row>& info) {
        std::string name = info.param.name;
        std::erase(name, ' ');
        return name;
    });

} // namespace
