// The list of what an archive holds, reached from the backup screen: its notes, read from the
// archive itself, then what the conversion left out.
#include "app/ZNFAppLog.h"
#include "app/ZNFMacNotecrateViewController.h"
#include "app/ZNFNoteListItems.h"
#include "conversion/ZNFBackupArchive.h"
#include "layout/ZNFLayoutCollectionViewController.h"
#include "layout/items/ZNFSpacerLayoutItem.h"
#include "layout/items/ZNFTableLayoutItem.h"
#include "layout/items/ZNFTextLayoutItem.h"
#include "platform/ZNFBundle.h"
#include "platform/ZNFView.h"
#include "text/ZNFTextFormatter.h"

#include <QFileInfo>
#include <QFontMetricsF>
#include <QHash>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <cmath>

namespace {

// Space between a row's columns, and above and below its text.
constexpr double kColumnGap = 16;
constexpr double kRowPadding = 14;
constexpr double kFilterHeight = 46;

class ZNFNoteRowView : public ZNFView {
public:
    using ZNFView::ZNFView;

    void show(std::shared_ptr<const ZNFNoteRowStyle> style, const QString& title, const QString& date,
              const QString& detail) {
        m_style = std::move(style);
        m_title = title;
        m_date = date;
        m_detail = detail;
        setToolTip(title);
        update();
    }

protected:
    void drawContents(QPainter& painter) override {
        if (!m_style)
            return;
        const ZNFNoteRowStyle& style = *m_style;
        const double width = this->width(), height = this->height();
        double right = width - style.sideInset;
        painter.setFont(style.detailFont);
        painter.setPen(style.detailColor);
        const QFontMetricsF detailMetrics(style.detailFont);
        // The picture counts and the dates stand in columns; a reason without a date takes both.
        const double detailWidth =
            m_date.isEmpty() ? std::min(detailMetrics.horizontalAdvance(m_detail), width / 2)
                             : std::max(detailMetrics.horizontalAdvance(m_detail), style.height * 2.5);
        painter.drawText(QRectF(right - detailWidth, 0, detailWidth, height),
                         Qt::AlignRight | Qt::AlignVCenter,
                         detailMetrics.elidedText(m_detail, Qt::ElideRight, detailWidth));
        right -= detailWidth + kColumnGap;
        if (!m_date.isEmpty()) {
            const double dateWidth = detailMetrics.horizontalAdvance(m_date);
            painter.drawText(QRectF(right - dateWidth, 0, dateWidth, height),
                             Qt::AlignRight | Qt::AlignVCenter, m_date);
            right -= dateWidth + kColumnGap;
        }
        painter.setFont(style.titleFont);
        painter.setPen(style.titleColor);
        const double titleWidth = std::max(0.0, right - style.sideInset);
        painter.drawText(QRectF(style.sideInset, 0, titleWidth, height), Qt::AlignLeft | Qt::AlignVCenter,
                         QFontMetricsF(style.titleFont).elidedText(m_title, Qt::ElideRight, titleWidth));
        painter.setPen(style.ruleColor);
        painter.drawLine(QPointF(style.sideInset, height - 0.5),
                         QPointF(width - style.sideInset, height - 0.5));
    }

private:
    std::shared_ptr<const ZNFNoteRowStyle> m_style;
    QString m_title, m_date, m_detail;
};

class ZNFNoteFilterView : public ZNFView {
public:
    explicit ZNFNoteFilterView(const QRectF& frame) : ZNFView(frame) {
        m_field = new QLineEdit(this);
        m_field->setClearButtonEnabled(true);
        QObject::connect(m_field, &QLineEdit::textChanged, m_field, [this](const QString& text) {
            // A copy: the call replaces the screen, and with it the item that gave the callable.
            if (const auto changed = m_changed)
                changed(text);
        });
    }
    void show(const QString& text, const QString& placeholder, std::function<void(const QString&)> changed) {
        m_changed = std::move(changed);
        m_field->setPlaceholderText(placeholder);
        if (m_field->text() != text) {
            const QSignalBlocker block(m_field);
            m_field->setText(text);
        }
    }
    QLineEdit* field() const { return m_field; }

protected:
    void resizeEvent(QResizeEvent* event) override {
        ZNFView::resizeEvent(event);
        const int inset = 24;
        const int fieldHeight = std::min(height() - 8, m_field->sizeHint().height() + 6);
        m_field->setGeometry(inset, (height() - fieldHeight) / 2, std::max(0, width() - 2 * inset),
                             fieldHeight);
    }

private:
    QLineEdit* m_field = nullptr;
    std::function<void(const QString&)> m_changed;
};

} // namespace

ZNFNoteRowItem::ZNFNoteRowItem(std::shared_ptr<const ZNFNoteRowStyle> style, QString title,
                               std::optional<QDateTime> date, QString detail)
    : m_style(std::move(style)), m_title(std::move(title)), m_date(std::move(date)),
      m_detail(std::move(detail)) {}

QSizeF ZNFNoteRowItem::sizeThatFits(const QSizeF& size) {
    return QSizeF(size.width(), m_style ? m_style->height : 0);
}

QString ZNFNoteRowItem::dateText() const {
    // Formatted only for the rows drawn: a locale's date format is not cheap. The day is what
    // tells notes apart in a list; the time to the second would only crowd the row.
    return m_date ? QLocale().toString(m_date->toLocalTime().date(), QLocale::ShortFormat) : QString();
}

ZNFLayoutInstance ZNFNoteRowItem::instanceForItem(const std::shared_ptr<ZNFLayoutItem>&, ZNFLayoutConsumer*,
                                                  const QRectF& frame, QWidget* reusingView) {
    auto* view = dynamic_cast<ZNFNoteRowView*>(reusingView);
    if (!view)
        view = new ZNFNoteRowView(frame);
    view->show(m_style, m_title, dateText(), m_detail);
    return view;
}

ZNFLayoutItem::AccessibleDescription ZNFNoteRowItem::accessibleDescription() const {
    QStringList parts{m_title};
    if (m_date)
        parts << dateText();
    if (!m_detail.isEmpty())
        parts << m_detail;
    return {parts.join(QStringLiteral(", ")), true};
}

ZNFNoteFilterItem::ZNFNoteFilterItem(QString text, QString placeholder,
                                     std::function<void(const QString&)> changed)
    : m_text(std::move(text)), m_placeholder(std::move(placeholder)), m_changed(std::move(changed)) {}

QSizeF ZNFNoteFilterItem::sizeThatFits(const QSizeF& size) {
    return QSizeF(size.width(), kFilterHeight);
}

ZNFLayoutInstance ZNFNoteFilterItem::instanceForItem(const std::shared_ptr<ZNFLayoutItem>&,
                                                     ZNFLayoutConsumer*, const QRectF& frame,
                                                     QWidget* reusingView) {
    auto* view = dynamic_cast<ZNFNoteFilterView*>(reusingView);
    if (!view)
        view = new ZNFNoteFilterView(frame);
    view->show(m_text, m_placeholder, m_changed);
    return view;
}

// What one archive's list is made of, read and built once: the rows are the same items on
// every screen of the list, so typing in the filter only chooses among them.
struct ZNFNoteListState {
    QString path;
    QDateTime modified;
    ZNFBackupListing listing;
    std::shared_ptr<ZNFNoteRowStyle> style;
    std::vector<std::shared_ptr<ZNFNoteRowItem>> noteRows;
    std::vector<std::shared_ptr<ZNFNoteRowItem>> leftOutRows;
};

namespace {

std::shared_ptr<ZNFNoteRowStyle> rowStyle(const std::shared_ptr<ZNFTextFormatter>& formatter) {
    auto style = std::make_shared<ZNFNoteRowStyle>();
    const auto fontOf = [&](const char* key, QFont& font, QColor& color) {
        const ZNFTextAttributesPtr attributes =
            formatter ? formatter->attributesForKey(QLatin1StringView(key)) : nullptr;
        font = attributes && attributes->font ? attributes->font->qfont() : QFont();
        color = attributes && attributes->foregroundColor ? *attributes->foregroundColor : QColor(Qt::black);
    };
    fontOf("listRow", style->titleFont, style->titleColor);
    fontOf("listDetail", style->detailFont, style->detailColor);
    style->ruleColor = QColor(0, 0, 0, 20);
    const double line =
        std::max(QFontMetricsF(style->titleFont).height(), QFontMetricsF(style->detailFont).height());
    style->height = std::ceil(line + kRowPadding);
    return style;
}

} // namespace

void ZNFMacNotecrateViewController::setCurrentBackupLeftOut(const ZNFConversionOutcome& outcome) {
    m_currentBackupLeftOut = outcome.leftOutSummary();
    m_currentBackupLeftOutItems = outcome.leftOut;
    m_currentBackupLeftOutTotal = outcome.leftOutTotal();
    m_noteList.reset();
}

void ZNFMacNotecrateViewController::showNoteList() {
    navigateToItems(noteListItems());
}

void ZNFMacNotecrateViewController::setNoteListFilter(const QString& filter) {
    showScreen(noteListItems(filter));
}

std::shared_ptr<ZNFLayoutItem> ZNFMacNotecrateViewController::showNotesLink() {
    std::weak_ptr<ZNFMacNotecrateViewController> weak = weakSelf();
    auto item = ZNFTextLayoutItem::itemWithString(ZNFLocalizedString("Show the notes"),
                                                  QStringLiteral("centeredText"), m_textFormatter);
    ZNFAttributedString string = item->attributedString().mutableCopy();
    ZNFTextAttributes underline;
    underline.underlineStyle = 1;
    underline.underlineColor = QColor::fromRgbF(0.2f, 0.2f, 0.2f, 1.0f);
    string.addAttributes(underline, ZNFRange{0, string.string().size()});
    item->setAttributedString(string);
    item->setFillWidth(false);
    item->setClickHandler(ZNFOnLeftMouseDown([weak] {
        if (auto self = weak.lock())
            self->showNoteList();
    }));
    auto table =
        ZNFTableLayoutItem::columnBasedTableWithItems({ZNFTableEntry(ZNFLayoutItemList{item})}, {1.0});
    table->rows().front()->columns().front()->setAlignment(ZNFTableColumnAlignmentCenter);
    return table;
}

std::shared_ptr<ZNFNoteListState> ZNFMacNotecrateViewController::noteListState() {
    const QString path = currentBackupPath();
    const QDateTime modified = QFileInfo(path).lastModified();
    if (m_noteList && m_noteList->path == path && m_noteList->modified == modified)
        return m_noteList;
    auto state = std::make_shared<ZNFNoteListState>();
    state->path = path;
    state->modified = modified;
    state->listing = ZNFBackupArchiveReader::read(path);
    if (!state->listing.isOK())
        qCWarning(lcApp()).noquote()
            << QStringLiteral("Could not list the notes of %1: %2").arg(path, state->listing.failure);
    state->style = rowStyle(m_textFormatter);
    const QString empty = ZNFLocalizedString("Empty note");
    QHash<qint64, QString> pictureTexts;
    state->noteRows.reserve(state->listing.notes.size());
    for (const ZNFBackupNote& note : state->listing.notes) {
        auto text = pictureTexts.find(note.pictures);
        if (text == pictureTexts.end())
            text = pictureTexts.insert(
                note.pictures,
                note.pictures == 1
                    ? ZNFLocalizedString("1 picture")
                    : ZNFLocalizedString("%1 pictures").arg(QLocale().toString(note.pictures)));
        state->noteRows.push_back(std::make_shared<ZNFNoteRowItem>(
            state->style, note.firstLine.isEmpty() ? empty : note.firstLine, note.modified, *text));
    }
    const QString untitled = ZNFLocalizedString("Untitled note");
    for (const ZNFLeftOutItem& item : m_currentBackupLeftOutItems) {
        const QString note = item.note.isEmpty() ? untitled : item.note;
        const QString title =
            item.attachment.isEmpty() ? note : ZNFLocalizedString("%1 in “%2”").arg(item.attachment, note);
        state->leftOutRows.push_back(std::make_shared<ZNFNoteRowItem>(state->style, title, std::nullopt,
                                                                      ZNFLeftOut::noun(item.reason, 1)));
    }
    m_noteList = state;
    return state;
}

ZNFMacNotecrateViewController::Screen ZNFMacNotecrateViewController::noteListItems(const QString& filter) {
    const std::shared_ptr<ZNFNoteListState> state = noteListState();
    const ZNFBackupListing& listing = state->listing;
    const QLocale locale;
    const auto matches = [&filter](const std::shared_ptr<ZNFNoteRowItem>& row) {
        return filter.isEmpty() || row->title().contains(filter, Qt::CaseInsensitive);
    };
    std::vector<std::shared_ptr<ZNFLayoutItem>> notes;
    notes.reserve(state->noteRows.size());
    for (const auto& row : state->noteRows)
        if (matches(row))
            notes.push_back(row);

    Screen screen{backButton(), std::make_shared<ZNFSpacerLayoutItem>(QSizeF(0, 10))};
    const QString total = locale.toString(qint64(listing.notes.size()));
    screen.push_back(textItem(
        filter.isEmpty()
            ? ZNFLocalizedString("%1 notes · %2 pictures").arg(total, locale.toString(listing.pictures))
            : ZNFLocalizedString("%1 of %2 notes").arg(locale.toString(qint64(notes.size())), total),
        "centeredText"));
    if (!listing.isOK())
        screen.push_back(errorItem(
            ZNFLocalizedString("The notes of this archive cannot be shown: %1").arg(listing.failure)));
    if (listing.unlistedEntries > 0)
        screen.push_back(textItem(ZNFLocalizedString("%1 notes are too large to show here.")
                                      .arg(locale.toString(listing.unlistedEntries)),
                                  "centeredText"));
    std::weak_ptr<ZNFMacNotecrateViewController> weak = weakSelf();
    screen.push_back(std::make_shared<ZNFNoteFilterItem>(filter, ZNFLocalizedString("Filter the notes"),
                                                         [weak](const QString& text) {
                                                             if (auto self = weak.lock())
                                                                 self->setNoteListFilter(text);
                                                         }));
    screen.push_back(std::make_shared<ZNFSpacerLayoutItem>(QSizeF(0, 4)));
    screen.insert(screen.end(), notes.begin(), notes.end());
    if (notes.empty() && !filter.isEmpty())
        screen.push_back(textItem(ZNFLocalizedString("No note holds “%1”.").arg(filter), "centeredText"));

    screen.push_back(std::make_shared<ZNFSpacerLayoutItem>(QSizeF(0, 24)));
    screen.push_back(textItem(ZNFLocalizedString("Left out"), "listHeading"));
    qint64 shownLeftOut = 0;
    for (const auto& row : state->leftOutRows)
        if (matches(row)) {
            screen.push_back(row);
            ++shownLeftOut;
        }
    if (m_currentBackupLeftOutTotal == 0)
        screen.push_back(textItem(ZNFLocalizedString("Nothing was left out."), "centeredText"));
    else if (filter.isEmpty() && m_currentBackupLeftOutTotal > shownLeftOut)
        screen.push_back(textItem(ZNFLocalizedString("and %1 more, counted but not named")
                                      .arg(locale.toString(m_currentBackupLeftOutTotal - shownLeftOut)),
                                  "centeredText"));
    screen.push_back(std::make_shared<ZNFSpacerLayoutItem>(QSizeF(0, 24)));
    return screen;
}
