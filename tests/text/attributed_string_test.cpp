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

// The runs as (text, colour); they must cover the string in order, without gaps or empty runs.
using Runs = std::vector<std::pair<QString, QColor>>;
Runs runsOf(const ZNFAttributedString& s) {
    Runs out;
    qsizetype next = 0;
    for (const auto& run : s.runs()) {
        EXPECT_TRUE(run.range.location == next && run.range.length > 0 && run.attributes);
        out.emplace_back(s.string().mid(run.range.location, run.range.length),
                         run.attributes->foregroundColor.value_or(QColor()));
        next = run.range.end();
    }
    EXPECT_EQ(next, s.length());
    return out;
}

const QColor red(Qt::red), blue(Qt::blue), green(Qt::green);

} // namespace

TEST(AttributedString, RunsRangesAndEdits) {
    ZNFAttributedString s(QStringLiteral("Hello world"), colored(red));
    s.setAttributes(colored(blue), {6, 5});
    EXPECT_EQ(runsOf(s), (Runs{{"Hello ", red}, {"world", blue}}));
    ZNFRange effective;
    EXPECT_EQ(s.attributesAtIndex(5, &effective)->foregroundColor, red);
    EXPECT_EQ(effective, (ZNFRange{0, 6}));
    // Outside the string: nothing, never a crash.
    EXPECT_EQ(s.attributesAtIndex(11), nullptr);
    EXPECT_EQ(s.attributesAtIndex(-1), nullptr);

    // Replacing takes the attributes of the first replaced character; inserting those before.
    s.replaceCharactersInRange({6, 5}, QStringLiteral("there, friend"));
    s.replaceCharactersInRange({5, 0}, QStringLiteral("!!"));
    EXPECT_EQ(runsOf(s), (Runs{{"Hello!! ", red}, {"there, friend", blue}}));
    s.replaceCharactersInRange({0, 7}, QString());
    EXPECT_EQ(runsOf(s), (Runs{{" ", red}, {"there, friend", blue}}));

    // Ranges past either end are clipped; a range wholly before the start inserts there.
    s.setAttributes(colored(green), {10, 1000});
    s.replaceCharactersInRange({-5, 2}, QStringLiteral("_"));
    s.replaceCharactersInRange({500, 3}, QStringLiteral("?"));
    EXPECT_EQ(runsOf(s), (Runs{{"_ ", red}, {"there, fr", blue}, {"iend?", green}}));

    // Equal attributes side by side join; substrings keep theirs.
    ZNFAttributedString joined(QStringLiteral("ab"), colored(red));
    joined.appendString(QStringLiteral("cd"), colored(red));
    EXPECT_EQ(runsOf(joined), (Runs{{"abcd", red}}));
    EXPECT_EQ(runsOf(s.attributedSubstringFromRange({11, 100})), (Runs{{"iend?", green}}));

    // Adding merges field by field.
    ZNFTextAttributes underline, redUnderlined = colored(red);
    underline.underlineStyle = redUnderlined.underlineStyle = ZNFLineStyle::Single;
    s.addAttributes(underline, {0, 3});
    EXPECT_EQ(*s.attributesAtIndex(1), redUnderlined);
    EXPECT_EQ(*s.attributesAtIndex(3), colored(blue));

    // Editing an empty string.
    ZNFAttributedString empty;
    empty.replaceCharactersInRange({3, 2}, QStringLiteral("new"));
    EXPECT_EQ(runsOf(empty), (Runs{{"new", QColor()}}));
    EXPECT_TRUE(empty.attributesAtIndex(0)->isEmpty());
}

TEST(TextStorage, EditsAndParagraphFixing) {
    // Each paragraph takes the paragraph style of its first character.
    ZNFAttributedString source(QStringLiteral("one\ntwo"), aligned(ZNFTextAlignment::Center));
    source.setAttributes(aligned(ZNFTextAlignment::Right), {1, 5});
    ZNFTextStorage storage(source);
    // Each character's alignment as L(eft), R(ight) or C(entre).
    auto alignments = [&] {
        QString out;
        for (qsizetype i = 0; i < storage.length(); ++i)
            out += QLatin1String("LRC").at(int(storage.attributesAtIndex(i)->paragraphStyle->alignment));
        return out;
    };
    EXPECT_EQ(alignments(), "CCCCRRR");
    EXPECT_EQ(storage.attributesAtIndex(7), nullptr);

    const quint64 before = storage.changeCount();
    storage.setAttributes(aligned(ZNFTextAlignment::Left), {5, 1});
    EXPECT_GT(storage.changeCount(), before);
    EXPECT_EQ(alignments(), "CCCCRRR");
    storage.replaceCharactersInRange({3, 1}, QStringLiteral(" "));
    EXPECT_EQ(storage.string(), "one two");
    EXPECT_EQ(alignments(), "CCCCCCC");
    // The wrapper is a copy: editing it leaves the source alone.
    EXPECT_EQ(source.string(), "one\ntwo");
}
