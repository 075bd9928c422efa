#pragma once

#include "text/ZNFTextAttributes.h"

#include <QString>
#include <functional>
#include <limits>
#include <vector>

// A character range: location and length in UTF-16 code units, as QString counts them.
struct ZNFRange {
    qsizetype location = 0;
    qsizetype length = 0;
    qsizetype end() const { return location + length; }
    bool contains(qsizetype index) const { return index >= location && index < end(); }
    friend bool operator==(const ZNFRange&, const ZNFRange&) = default;
};

// The not-found marker of the platform: the largest signed 64-bit value.
inline constexpr qint64 ZNFNotFound = std::numeric_limits<qint64>::max();

// A string plus attribute runs. Runs cover the whole string, in order, without gaps; a run's
// attributes are shared and immutable, so copying a string is cheap. The type is a value:
// its "mutable copy" is simply a copy that the caller then changes.
class ZNFAttributedString {
public:
    struct Run {
        ZNFRange range;
        ZNFTextAttributesPtr attributes; // never null
    };

    ZNFAttributedString() = default;
    explicit ZNFAttributedString(const QString& string);
    ZNFAttributedString(const QString& string, const ZNFTextAttributes& attributes);
    // A null pointer means no attributes.
    ZNFAttributedString(const QString& string, ZNFTextAttributesPtr attributes);

    const QString& string() const { return m_string; }
    qsizetype length() const { return m_string.size(); }
    bool isEmpty() const { return m_string.isEmpty(); }

    // The attributes at an index and, when asked, the range of the run that holds it. Null for
    // an index outside the string (no exception, no assertion).
    ZNFTextAttributesPtr attributesAtIndex(qsizetype index, ZNFRange* effectiveRange = nullptr) const;
    const std::vector<Run>& runs() const { return m_runs; }
    // Calls `fn` for each run that meets `range`, clipped to it.
    void enumerateAttributes(ZNFRange range,
                             const std::function<void(const ZNFTextAttributesPtr&, ZNFRange)>& fn) const;

    ZNFAttributedString attributedSubstringFromRange(ZNFRange range) const;
    ZNFAttributedString mutableCopy() const { return *this; }
    ZNFAttributedString copy() const { return *this; }

    // Editing. Ranges are clipped to the string; nothing here fails on bad input.
    // Replaced characters take the attributes of the first replaced character (or of the one
    // before an insertion point, or none at the start of an empty string).
    void replaceCharactersInRange(ZNFRange range, const QString& string);
    void setAttributes(const ZNFTextAttributes& attributes, ZNFRange range);
    void setAttributes(ZNFTextAttributesPtr attributes, ZNFRange range);
    // Adds the fields that `attributes` sets to whatever the range already has.
    void addAttributes(const ZNFTextAttributes& attributes, ZNFRange range);
    void appendAttributedString(const ZNFAttributedString& other);
    void appendString(const QString& string, const ZNFTextAttributes& attributes);

    // Runs with equal attributes next to each other are joined.
    void coalesceRuns();

    // Equal text and equal attributes character by character.
    friend bool operator==(const ZNFAttributedString& a, const ZNFAttributedString& b);

private:
    ZNFRange clipped(ZNFRange range) const;
    // Splits the run holding `index` so that a run starts there; returns that run's position.
    std::size_t splitAt(qsizetype index);

    QString m_string;
    std::vector<Run> m_runs;
};

using ZNFMutableAttributedString = ZNFAttributedString;
