#pragma once

#include "platform/ZNFGeometry.h"
#include "text/ZNFAttributedString.h"

#include <QSizeF>
#include <QString>

// The text store a label lays out: a thin wrapper around an attributed string that answers
// attribute queries past its end with nothing instead of failing, and keeps its attributes
// fixed (each paragraph laid out with one paragraph style) after every edit.
class ZNFTextStorage {
public:
    // Edit kinds, as the platform numbers them.
    enum EditMask { EditedAttributes = 1, EditedCharacters = 2 };

    ZNFTextStorage() = default;
    explicit ZNFTextStorage(const ZNFAttributedString& string);
    ZNFTextStorage(const QString& string, const ZNFTextAttributes& attributes);
    ZNFTextStorage(const QString& string, ZNFTextAttributesPtr attributes);

    const QString& string() const { return m_storage.string(); }
    qsizetype length() const { return m_storage.length(); }
    const ZNFAttributedString& storage() const { return m_storage; }
    // Null for an index at or past the end.
    ZNFTextAttributesPtr attributesAtIndex(qsizetype index, ZNFRange* effectiveRange = nullptr) const;

    void replaceCharactersInRange(ZNFRange range, const QString& string);
    void setAttributes(const ZNFTextAttributes& attributes, ZNFRange range);
    void setAttributes(ZNFTextAttributesPtr attributes, ZNFRange range);
    // Edit processing: counts the edit, then fixes attributes over the range.
    void edited(int editMask, ZNFRange range, qsizetype changeInLength);
    // Grows with every edit; a layout built for an older value is stale.
    quint64 changeCount() const { return m_changeCount; }

    // Gives every paragraph that meets `range` the paragraph style of its first character.
    void fixAttributesInRange(ZNFRange range);

    // The size a string takes when laid out `width` wide inside `insets`, each dimension
    // rounded up to a whole point; the width is `width` itself when `fillWidth`. Keeps no state.
    static QSizeF sizeWithWidth(double width, const ZNFAttributedString& string, const ZNFEdgeInsets& insets,
                                bool fillWidth = true);
    // The rounding and inset arithmetic of `sizeWithWidth` for a laid-out text size.
    static QSizeF sizeForTextSize(const QSizeF& textSize, double width, const ZNFEdgeInsets& insets,
                                  bool fillWidth);

private:
    ZNFAttributedString m_storage;
    quint64 m_changeCount = 0;
};
