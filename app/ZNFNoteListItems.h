#pragma once

#include "layout/ZNFLayoutItem.h"

#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

inline constexpr QLatin1StringView ZNFNoteRowItemKind{"ZNFNoteRowItemKind"};
inline constexpr QLatin1StringView ZNFNoteFilterItemKind{"ZNFNoteFilterItemKind"};

// How every row of a list looks; shared by all its rows, so that a row is measured by reading
// one number.
struct ZNFNoteRowStyle {
    QFont titleFont;
    QFont detailFont;
    QColor titleColor;
    QColor detailColor;
    QColor ruleColor;
    double height = 32;
    double sideInset = 24;
};

// One line of a list: a note's first line (or another name) on the left; its date and a detail
// (the picture count, or why it was left out) on the right. Its height is fixed and its view is
// painted in one go, so that thousands of rows cost only the few that are shown.
class ZNFNoteRowItem : public ZNFLayoutItem, public ZNFLayoutItemViewProvider {
public:
    ZNFNoteRowItem(std::shared_ptr<const ZNFNoteRowStyle> style, QString title, std::optional<QDateTime> date,
                   QString detail);

    static QString classKind() { return ZNFNoteRowItemKind; }
    QString kind() const override { return classKind(); }
    QSizeF sizeThatFits(const QSizeF& size) override;
    ZNFLayoutInstance instanceForItem(const std::shared_ptr<ZNFLayoutItem>& item,
                                      ZNFLayoutConsumer* providerSource, const QRectF& frame,
                                      QWidget* reusingView) override;
    AccessibleDescription accessibleDescription() const override;

    const QString& title() const { return m_title; }
    const std::optional<QDateTime>& date() const { return m_date; }
    // The date as the row shows it, in the user's locale; empty without one.
    QString dateText() const;
    const QString& detail() const { return m_detail; }

private:
    std::shared_ptr<const ZNFNoteRowStyle> m_style;
    QString m_title;
    std::optional<QDateTime> m_date;
    QString m_detail;
};

// A one-line field whose text narrows a list as one types. Its view is kept across the
// reloads its own typing causes, so that the cursor and the focus stay in it.
class ZNFNoteFilterItem : public ZNFLayoutItem, public ZNFLayoutItemViewProvider {
public:
    ZNFNoteFilterItem(QString text, QString placeholder, std::function<void(const QString&)> changed);

    static QString classKind() { return ZNFNoteFilterItemKind; }
    QString kind() const override { return classKind(); }
    QSizeF sizeThatFits(const QSizeF& size) override;
    ZNFLayoutInstance instanceForItem(const std::shared_ptr<ZNFLayoutItem>& item,
                                      ZNFLayoutConsumer* providerSource, const QRectF& frame,
                                      QWidget* reusingView) override;
    AccessibleDescription accessibleDescription() const override { return {m_placeholder}; }

    const QString& text() const { return m_text; }

private:
    QString m_text;
    QString m_placeholder;
    std::function<void(const QString&)> m_changed;
};
