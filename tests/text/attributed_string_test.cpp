#include "text/ZNFAttributedString.h"
#include "text/ZNFTextStorage.h"

#include <gtest/gtest.h>

namespace {

ZNFTextAttributes colored(QColor c) {
    ZNFTextAttributes a;
    a.foregroundColor = c;
    return a;
}

ZNFTextAttributes aligned(ZNFTextAlignment alignment) {
    ZNFTextAttributes a;
    ZNFParagraphStyle p;
    p.alignment = alignment;
    a.paragraphStyle = p;
    return a;
}

QColor colorAt(const ZNFAttributedString& s, qsizetype i) {
    return s.attributesAtIndex(i)->foregroundColor.value();
}

// Runs must cover the string in order, without gaps or empty runs.
void expectWellFormed(const ZNFAttributedString& s) {
    qsizetype next = 0;
    for (const auto& run : s.runs()) {
        EXPECT_EQ(run.range.location, next);
        EXPECT_GT(run.range.length, 0);
        EXPECT_NE(run.attributes, nullptr);
        next = run.range.end();
    }
    EXPECT_EQ(next, s.length());
}

} // namespace

TEST(AttributedString, RunsRangesAndEdits) {
    ZNFAttributedString s(QStringLiteral("Hello world"), colored(Qt::red));
    s.setAttributes(colored(Qt::blue), {6, 5});
    expectWellFormed(s);
    ZNFRange effective;
    EXPECT_EQ(s.attributesAtIndex(7, &effective)->foregroundColor, QColor(Qt::blue));
    EXPECT_EQ(effective, (ZNFRange{6, 5}));
    EXPECT_EQ(s.attributesAtIndex(5, &effective)->foregroundColor, QColor(Qt::red));
    EXPECT_EQ(effective, (ZNFRange{0, 6}));
    // Outside the string: nothing, never a crash.
    EXPECT_EQ(s.attributesAtIndex(11), nullptr);
    EXPECT_EQ(s.attributesAtIndex(-1), nullptr);

    // Replacing takes the attributes of the first replaced character; inserting those before.
    s.replaceCharactersInRange({6, 5}, QStringLiteral("there, friend"));
    expectWellFormed(s);
    EXPECT_EQ(s.string(), "Hello there, friend");
    EXPECT_EQ(colorAt(s, 6), QColor(Qt::blue));
    EXPECT_EQ(colorAt(s, 18), QColor(Qt::blue));
    s.replaceCharactersInRange({5, 0}, QStringLiteral("!!"));
    EXPECT_EQ(s.string(), "Hello!! there, friend");
    EXPECT_EQ(colorAt(s, 5), QColor(Qt::red));
    s.replaceCharactersInRange({0, 7}, QString());
    expectWellFormed(s);
    EXPECT_EQ(s.string(), " there, friend");
    EXPECT_EQ(colorAt(s, 0), QColor(Qt::red));
    EXPECT_EQ(colorAt(s, 1), QColor(Qt::blue));

    // Ranges past either end are clipped.
    s.setAttributes(colored(Qt::green), {10, 1000});
    s.replaceCharactersInRange({-5, 2}, QStringLiteral("_"));
    s.replaceCharactersInRange({500, 3}, QStringLiteral("?"));
    expectWellFormed(s);
    EXPECT_EQ(s.string(), "_ there, friend?"); // a range wholly before the start inserts there
    EXPECT_EQ(colorAt(s, 15), QColor(Qt::green));

    // Equal attributes side by side join; substrings keep theirs.
    ZNFAttributedString joined(QStringLiteral("ab"), colored(Qt::red));
    joined.appendString(QStringLiteral("cd"), colored(Qt::red));
    EXPECT_EQ(joined.runs().size(), 1u);
    const ZNFAttributedString sub = s.attributedSubstringFromRange({11, 100});
    expectWellFormed(sub);
    EXPECT_EQ(sub.string(), "iend?");
    EXPECT_EQ(sub, ZNFAttributedString(QStringLiteral("iend?"), colored(Qt::green)));

    // Adding merges field by field.
    ZNFTextAttributes underline;
    underline.underlineStyle = ZNFLineStyle::Single;
    s.addAttributes(underline, {0, 3});
    EXPECT_EQ(s.attributesAtIndex(1)->underlineStyle, ZNFLineStyle::Single);
    EXPECT_EQ(colorAt(s, 1), QColor(Qt::red));
    EXPECT_FALSE(s.attributesAtIndex(3)->underlineStyle);

    // A copy is independent.
    ZNFAttributedString copy = s.mutableCopy();
    copy.replaceCharactersInRange({0, 1}, QStringLiteral("X"));
    EXPECT_EQ(s.string().at(0), QLatin1Char('_'));
    EXPECT_EQ(copy.string().at(0), QLatin1Char('X'));
    EXPECT_FALSE(copy == s);

    // Editing an empty string.
    ZNFAttributedString empty;
    empty.replaceCharactersInRange({3, 2}, QStringLiteral("new"));
    expectWellFormed(empty);
    EXPECT_EQ(empty.string(), "new");
    EXPECT_TRUE(empty.attributesAtIndex(0)->isEmpty());
}

TEST(TextStorage, EditsAndParagraphFixing) {
    // Each paragraph takes the paragraph style of its first character.
    ZNFAttributedString source(QStringLiteral("one\ntwo"), aligned(ZNFTextAlignment::Center));
    source.setAttributes(aligned(ZNFTextAlignment::Right), {1, 5});
    ZNFTextStorage storage(source);
    EXPECT_EQ(storage.attributesAtIndex(2)->paragraphStyle->alignment, ZNFTextAlignment::Center);
    EXPECT_EQ(storage.attributesAtIndex(3)->paragraphStyle->alignment, ZNFTextAlignment::Center);
    EXPECT_EQ(storage.attributesAtIndex(4)->paragraphStyle->alignment, ZNFTextAlignment::Right);
    EXPECT_EQ(storage.attributesAtIndex(6)->paragraphStyle->alignment, ZNFTextAlignment::Right);
    EXPECT_EQ(storage.attributesAtIndex(7), nullptr);
    EXPECT_EQ(storage.attributesAtIndex(100), nullptr);

    const quint64 before = storage.changeCount();
    storage.setAttributes(aligned(ZNFTextAlignment::Left), {5, 1});
    EXPECT_GT(storage.changeCount(), before);
    EXPECT_EQ(storage.attributesAtIndex(5)->paragraphStyle->alignment, ZNFTextAlignment::Right);
    storage.replaceCharactersInRange({3, 1}, QStringLiteral(" "));
    EXPECT_EQ(storage.string(), "one two");
    EXPECT_EQ(storage.attributesAtIndex(6)->paragraphStyle->alignment, ZNFTextAlignment::Center);
    // The wrapper is a copy: editing it leaves the source alone.
    EXPECT_EQ(source.string(), "one\ntwo");
}
