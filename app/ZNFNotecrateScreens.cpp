// The screens of the flow controller: each builder returns new items on every call.
#include "app/ZNFMacNotecrateViewController.h"
#include "app/ZNFSpinner.h"
#include "layout/items/ZNFBlockLayoutItem.h"
#include "layout/items/ZNFImageLayoutItem.h"
#include "layout/items/ZNFSpacerLayoutItem.h"
#include "layout/items/ZNFTableLayoutItem.h"
#include "layout/items/ZNFTextLayoutItem.h"
#include "platform/ZNFBundle.h"
#include "platform/ZNFView.h"
#include "text/ZNFTextFormatter.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QLocale>
#include <QProgressBar>
#include <QRegularExpression>
#include <algorithm>

namespace {

std::shared_ptr<ZNFLayoutItem> spacer(double height) {
    return std::make_shared<ZNFSpacerLayoutItem>(QSizeF(0, height));
}

std::shared_ptr<ZNFLayoutItem> imageItem(const QString& name, double height) {
    return std::make_shared<ZNFImageLayoutItem>(
        ZNFBundle::mainBundle().urlForImageResource(name),
        [height](const QSizeF& size) { return QSizeF(size.width(), height); });
}

// A button as wide as its label, but never narrower than this.
constexpr double kMinimumButtonWidth = 200;
// Banners keep this distance from the window's sides.
constexpr double kBannerInset = 16;

class ZNFButtonTextItem : public ZNFTextLayoutItem {
public:
    QSizeF sizeThatFits(const QSizeF& size) override {
        QSizeF fitted = ZNFTextLayoutItem::sizeThatFits(size);
        fitted.setWidth(std::min(size.width(), std::max(fitted.width(), kMinimumButtonWidth)));
        return fitted;
    }
};

// Shows `item` in a slot as wide as the content, aligned in it: a click counts only on the
// item's own view, not on the empty rest of the line.
std::shared_ptr<ZNFLayoutItem> placed(const std::shared_ptr<ZNFLayoutItem>& item, unsigned alignment,
                                      double sideInset = 0) {
    auto table =
        ZNFTableLayoutItem::columnBasedTableWithItems({ZNFTableEntry(ZNFLayoutItemList{item})}, {1.0});
    const auto& column = table->rows().front()->columns().front();
    column->setAlignment(alignment);
    column->setFillWidth(sideInset > 0);
    column->setInsets(ZNFEdgeInsets{0, sideInset, 0, sideInset});
    return table;
}

} // namespace

std::shared_ptr<ZNFLayoutItem> ZNFMacNotecrateViewController::textItem(const QString& text,
                                                                       const char* style) {
    const bool button = qstrcmp(style, "middleButton") == 0;
    // A button is as wide as its label (see centred()); other texts take the whole line.
    auto item = button ? ZNFTextLayoutItem::itemWithString<ZNFButtonTextItem>(text, QLatin1StringView(style),
                                                                              m_textFormatter)
                       : ZNFTextLayoutItem::itemWithString(text, QLatin1StringView(style), m_textFormatter);
    applyBox(item, style);
    if (button)
        item->setFillWidth(false);
    return item;
}

std::shared_ptr<ZNFLayoutItem>
ZNFMacNotecrateViewController::centred(const std::shared_ptr<ZNFLayoutItem>& item) {
    return placed(item, ZNFTableColumnAlignmentCenter);
}

void ZNFMacNotecrateViewController::applyBox(const std::shared_ptr<ZNFTextLayoutItem>& item,
                                             const char* style) {
    // The style's box (border and rounded corners) applies to the screens' texts as it does to
    // parsed ones; the button-like texts rely on it.
    if (m_textFormatter) {
        if (const auto attributes = m_textFormatter->attributesForKey(QLatin1StringView(style))) {
            if (attributes->borderWidth && attributes->borderColor) {
                item->setBorderWidth(*attributes->borderWidth);
                item->setBorderColor(*attributes->borderColor);
            }
            if (attributes->cornerRadius)
                item->setCornerRadius(*attributes->cornerRadius);
        }
    }
}

std::shared_ptr<ZNFLayoutItem> ZNFMacNotecrateViewController::errorItem(const QString& message) {
    return placed(textItem(message, "error"), ZNFTableColumnAlignmentCenter, kBannerInset);
}

std::shared_ptr<ZNFLayoutItem> ZNFMacNotecrateViewController::linkItem(const QString& text,
                                                                       std::function<void()> action) {
    auto item = ZNFTextLayoutItem::itemWithString(text, QStringLiteral("centeredText"), m_textFormatter);
    ZNFAttributedString string = item->attributedString().mutableCopy();
    // The word the translation uses ("hier"), found as a word so that "where" is not it.
    const QString word = ZNFLocalizedString("here");
    const QRegularExpression wordPattern(QStringLiteral("\\b%1\\b").arg(QRegularExpression::escape(word)));
    const qsizetype here = string.string().indexOf(wordPattern);
    if (here >= 0) {
        ZNFTextAttributes underline;
        underline.underlineStyle = 1;
        underline.underlineColor = QColor::fromRgbF(0.2f, 0.2f, 0.2f, 1.0f);
        string.addAttributes(underline, ZNFRange{here, word.size()});
    }
    item->setAttributedString(string);
    item->setFillWidth(false);
    item->setClickHandler(ZNFOnLeftMouseDown(std::move(action)));
    return placed(item, ZNFTableColumnAlignmentCenter);
}

std::shared_ptr<ZNFLayoutItem> ZNFMacNotecrateViewController::backButton() {
    std::weak_ptr<ZNFMacNotecrateViewController> weak = weakSelf();
    auto item = ZNFTextLayoutItem::itemWithString(ZNFLocalizedString("‹ Back"), QStringLiteral("backButton"),
                                                  m_textFormatter);
    applyBox(item, "backButton");
    item->setFillWidth(false);
    item->setClickHandler(ZNFOnLeftMouseDown([weak] {
        if (auto self = weak.lock())
            self->backAction();
    }));
    return placed(item, ZNFTableColumnAlignmentLeft);
}

std::shared_ptr<ZNFLayoutItem> ZNFMacNotecrateViewController::iconItemWithName(const QString& name) {
    return imageItem(name, 80);
}

std::shared_ptr<ZNFLayoutItem> ZNFMacNotecrateViewController::archiveIcon() {
    return imageItem(QStringLiteral("backupFileIcon"), 63);
}

std::shared_ptr<ZNFLayoutItem>
ZNFMacNotecrateViewController::progressItem(std::shared_ptr<const ZNFConversionProgress> progress) {
    return ZNFBlockLayoutItem::itemWithSizing(
        [](const QSizeF& size) { return QSizeF(size.width(), 20); },
        [progress](QWidget*, const QRectF& frame) -> ZNFLayoutInstance {
            auto* plain = new ZNFView(frame);
            if (progress && progress->total > 0) {
                // Per mille: a count of notes may not fit the bar's int range.
                auto* bar = new QProgressBar(plain);
                bar->setRange(0, 1000);
                bar->setValue(
                    int(std::clamp(progress->done, qint64(0), progress->total) * 1000 / progress->total));
                bar->setTextVisible(false);
                const QRect area = plain->rect();
                bar->setGeometry(QRect(0, 0, std::min(area.width() * 3 / 5, 360), 12).translated(0, 4));
                bar->move((area.width() - bar->width()) / 2, bar->y());
                return plain;
            }
            auto* spinner = new ZNFSpinner(plain);
            spinner->setGeometry(plain->rect());
            spinner->startAnimation();
            return plain;
        });
}

ZNFMacNotecrateViewController::Screen ZNFMacNotecrateViewController::initialScreenItems() {
    std::weak_ptr<ZNFMacNotecrateViewController> weak = weakSelf();
    auto notesIcon = iconItemWithName(QStringLiteral("appIcon_notes"));
    notesIcon->setClickHandler(ZNFOnLeftMouseDown([weak] {
        if (auto self = weak.lock())
            self->navigateToItems(self->notesAppScreen1Items());
    }));
    notesIcon->setAccessibilityLabel(ZNFLocalizedString("Notes"));
    auto notesName = textItem(ZNFLocalizedString("Notes"), "importFromAppName");

    // Every other source is its icon over its name, clickable as a whole.
    auto source = [&](const QString& icon, const QString& name,
                      Screen (ZNFMacNotecrateViewController::*screen)()) {
        auto entry = ZNFTableLayoutItem::rowBasedTableWithItems(
            {iconItemWithName(icon), textItem(name, "importFromAppName")});
        entry->setAccessibilityLabel(name);
        entry->setClickHandler(ZNFOnLeftMouseDown([weak, screen] {
            if (auto self = weak.lock())
                self->navigateToItems(((*self).*screen)());
        }));
        return entry;
    };

    // One row of equal columns between equal margins: centred at every width, and the
    // content's width is capped, so a wide window does not spread the icons apart.
    auto table = ZNFTableLayoutItem::columnBasedTableWithItems(
        {ZNFTableEntry(ZNFLayoutItemList{}), ZNFTableEntry(ZNFLayoutItemList{notesIcon, notesName}),
         ZNFTableEntry(
             ZNFLayoutItemList{source(QStringLiteral("appIcon_vesper"), ZNFLocalizedString("Vesper"),
                                      &ZNFMacNotecrateViewController::vesperScreen1Items)}),
         ZNFTableEntry(
             ZNFLayoutItemList{source(QStringLiteral("appIcon_keep"), ZNFLocalizedString("Google Keep"),
                                      &ZNFMacNotecrateViewController::keepScreen1Items)}),
         ZNFTableEntry(
             ZNFLayoutItemList{source(QStringLiteral("appIcon_evernote"), ZNFLocalizedString("Evernote"),
                                      &ZNFMacNotecrateViewController::evernoteScreen1Items)}),
         ZNFTableEntry(ZNFLayoutItemList{})},
        {0.04, 0.23, 0.23, 0.23, 0.23, 0.04});

    return {spacer(60),
            textItem(ZNFLocalizedString("Which app would you like to import from?"), "importFromText"),
            spacer(40), table};
}

ZNFMacNotecrateViewController::Screen ZNFMacNotecrateViewController::notesAppScreen1Items() {
    std::weak_ptr<ZNFMacNotecrateViewController> weak = weakSelf();
    if (canRunNotesScript && !canRunNotesScript()) {
        // No Notes app to ask here: the notes come from a copy of its folder.
        auto choose = textItem(ZNFLocalizedString("Choose your copied Notes folder"), "middleButton");
        choose->setClickHandler(ZNFOnLeftMouseDown([weak] {
            if (auto self = weak.lock())
                self->openNotesFolderPicker();
        }));
        return {backButton(),
                spacer(30),
                iconItemWithName(QStringLiteral("appIcon_notes")),
                spacer(10),
                textItem(ZNFLocalizedString(
                             "This computer cannot ask the Notes app for your notes. Copy your "
                             "Mac’s Notes folder, ~/Library/Group Containers/group.com.apple.notes, "
                             "to this computer, then choose it here."),
                         "centeredText"),
                spacer(10),
                centred(choose)};
    }
    auto next = textItem(ZNFLocalizedString("Next"), "middleButton");
    next->setClickHandler(ZNFOnLeftMouseDown([weak] {
        if (auto self = weak.lock()) {
            self->navigateToItems(self->notesAppScreen2Items());
            self->convertFromNotesApp();
        }
    }));
    auto link = linkItem(ZNFLocalizedString("(Click here to open your Mac’s notes app)"), [weak] {
        if (auto self = weak.lock(); self && self->launchApplication)
            self->launchApplication(QStringLiteral("Notes"));
    });
    return {backButton(),
            spacer(30),
            iconItemWithName(QStringLiteral("appIcon_notes")),
            spacer(10),
            textItem(ZNFLocalizedString(
                         "To make sure your notes are up to date on this computer, launch the Notes "
                         "app, and wait for it to update. When you're ready, click Next."),
                     "centeredText"),
            spacer(10),
            centred(next),
            spacer(30),
            link};
}

ZNFMacNotecrateViewController::Screen ZNFMacNotecrateViewController::notesAppScreen2Items() {
    return {backButton(),
            spacer(30),
            iconItemWithName(QStringLiteral("appIcon_notes")),
            spacer(10),
            progressItem(),
            spacer(4),
            textItem(ZNFLocalizedString("Converting notes..."), "centeredText")};
}

ZNFMacNotecrateViewController::Screen ZNFMacNotecrateViewController::vesperScreen1Items() {
    std::weak_ptr<ZNFMacNotecrateViewController> weak = weakSelf();
    auto select = textItem(ZNFLocalizedString("Select your Vesper Export file"), "middleButton");
    select->setClickHandler(ZNFOnLeftMouseDown([weak] {
        if (auto self = weak.lock())
            self->openVesperFilePicker();
    }));
    auto link = linkItem(ZNFLocalizedString("Learn more about how to export \nfrom Vesper here."), [] {
        // The page in the language of the texts when there is one ("vesper-export.de.html").
        const ZNFBundle bundle = ZNFBundle::mainBundle();
        const QString help = ZNFNotecrate_vesperHelpResource;
        QString page = bundle.pathForResource(
            help.chopped(5) + u'.' + ZNFBundle::preferredLocalizations().value(0) + QStringLiteral(".html"),
            QString());
        if (page.isEmpty())
            page = bundle.pathForResource(help, QString());
        if (!page.isEmpty())
            QDesktopServices::openUrl(QUrl::fromLocalFile(page));
    });
    return {backButton(), spacer(40),      iconItemWithName(QStringLiteral("appIcon_vesper")),
            spacer(20),   centred(select), spacer(40),
            link};
}

ZNFMacNotecrateViewController::Screen
ZNFMacNotecrateViewController::sourceScreenItems(const QString& iconName, const QString& choose,
                                                 void (ZNFMacNotecrateViewController::*open)(),
                                                 const QString& help) {
    std::weak_ptr<ZNFMacNotecrateViewController> weak = weakSelf();
    auto button = textItem(choose, "middleButton");
    button->setClickHandler(ZNFOnLeftMouseDown([weak, open] {
        if (auto self = weak.lock())
            ((*self).*open)();
    }));
    return {backButton(),    spacer(40), iconItemWithName(iconName),    spacer(20),
            centred(button), spacer(30), textItem(help, "centeredText")};
}

ZNFMacNotecrateViewController::Screen ZNFMacNotecrateViewController::keepScreen1Items() {
    return sourceScreenItems(
        QStringLiteral("appIcon_keep"), ZNFLocalizedString("Choose your Google Takeout file or folder"),
        &ZNFMacNotecrateViewController::openKeepFilePicker,
        ZNFLocalizedString("At takeout.google.com, choose “Deselect all”, tick only Keep, and export. Then "
                           "choose the downloaded .zip (all its parts, if there are several) or the "
                           "folder it unpacks to."));
}

ZNFMacNotecrateViewController::Screen ZNFMacNotecrateViewController::evernoteScreen1Items() {
    // Non-breaking spaces keep the menu path on one line.
    return sourceScreenItems(
        QStringLiteral("appIcon_evernote"), ZNFLocalizedString("Choose your .enex files"),
        &ZNFMacNotecrateViewController::openEvernoteFilePicker,
        ZNFLocalizedString("In Evernote, select a notebook or some notes, then choose "
                           "File\u00a0▸\u00a0Export\u00a0Notes… and the .enex format. Choose one file or "
                           "several; they become one backup."));
}

ZNFMacNotecrateViewController::Screen ZNFMacNotecrateViewController::vesperScreen2Items() {
    return conversionProgressItems(QStringLiteral("appIcon_vesper"));
}

ZNFMacNotecrateViewController::Screen
ZNFMacNotecrateViewController::conversionProgressItems(const QString& iconName) {
    auto text = textItem(ZNFLocalizedString("Converting notes..."), "centeredText");
    m_conversionProgressText = std::static_pointer_cast<ZNFTextLayoutItem>(text);
    return {
        backButton(), spacer(40), iconItemWithName(iconName), spacer(20), progressItem(m_conversionProgress),
        spacer(4),    text};
}

ZNFMacNotecrateViewController::Screen ZNFMacNotecrateViewController::currentBackupItems() {
    std::weak_ptr<ZNFMacNotecrateViewController> weak = weakSelf();
    auto send = textItem(ZNFLocalizedString("Send Wirelessly"), "middleButton");
    send->setClickHandler(ZNFOnLeftMouseDown([weak] {
        if (auto self = weak.lock()) {
            self->showSendScreen(self->sendWirelesslyItems());
            self->sendToTessanote();
        }
    }));
    // Without iCloud Drive the copy goes wherever the person can reach it from the phone.
    const bool iCloud = hasICloudDrive();
    auto save = textItem(iCloud ? ZNFLocalizedString("Save to iCloud") : ZNFLocalizedString("Save a Copy…"),
                         "middleButton");
    save->setClickHandler(ZNFOnLeftMouseDown([weak] {
        if (auto self = weak.lock())
            self->presentSavePanel();
    }));
    Screen screen{
        backButton(), spacer(10), archiveIcon(), spacer(5),
        textItem(ZNFLocalizedString("Converted %1 notes to .notebackup").arg(m_currentBackupNoteCount),
                 "centeredText")};
    // What came along and what could not: a person moving thousands of notes is told here, not
    // only in a log.
    QString carried =
        ZNFLocalizedString("%1 pictures").arg(QLocale().toString(m_currentBackupAttachmentCount));
    if (!m_currentBackupLeftOut.isEmpty())
        carried += QStringLiteral(" · ") + m_currentBackupLeftOut;
    screen.push_back(textItem(carried, "centeredText"));
    screen.push_back(showNotesLink());
    screen.push_back(textItem(
        iCloud ? ZNFLocalizedString("Would you like to save this file to your iCloud Drive to import "
                                    "later from the Tessanote settings menu, or send them wirelessly "
                                    "to your phone right now?")
               : ZNFLocalizedString("Would you like to save this file to a folder your phone can reach, "
                                    "to import later from the Tessanote settings menu, or send them "
                                    "wirelessly to your phone right now?"),
        "centeredText"));
    screen.push_back(spacer(20));
    screen.push_back(centred(send));
    screen.push_back(centred(save));
    return screen;
}

ZNFMacNotecrateViewController::Screen ZNFMacNotecrateViewController::backupSuccessItems() {
    std::weak_ptr<ZNFMacNotecrateViewController> weak = weakSelf();
    auto ok = textItem(ZNFLocalizedString("OK"), "middleButton");
    ok->setClickHandler(ZNFOnLeftMouseDown([weak] {
        if (auto self = weak.lock())
            self->showScreen(self->initialScreenItems());
    }));
    return {backButton(),
            spacer(30),
            archiveIcon(),
            textItem(QFileInfo(currentBackupPath()).fileName(), "filename"),
            spacer(20),
            textItem(ZNFLocalizedString("Great!"), "centeredText"),
            textItem(ZNFLocalizedString(
                         "Import from the Tessanote settings menu to\n add these notes to your library. "
                         "We hope you enjoy using Tessanote!"),
                     "centeredText"),
            spacer(20),
            centred(ok)};
}

ZNFMacNotecrateViewController::Screen ZNFMacNotecrateViewController::sendWirelesslyItems() {
    return {backButton(),
            spacer(10),
            archiveIcon(),
            spacer(10),
            progressItem(),
            spacer(20),
            textItem(ZNFLocalizedString("Attempting to send your notes over the air."), "centeredText"),
            textItem(ZNFLocalizedString(
                         "Open your Tessanote app’s settings, then tap “Import Notes”. Tessanote will "
                         "connect automatically if your phone and your computer are on the same Wifi."),
                     "centeredText")};
}

ZNFMacNotecrateViewController::Screen
ZNFMacNotecrateViewController::sendProgressItems(qint64 sent, qint64 total, qint64 secondsLeft) {
    const QLocale locale;
    QString line = ZNFLocalizedString("Sending %1 of %2")
                       .arg(locale.formattedDataSize(sent, 1, QLocale::DataSizeSIFormat),
                            locale.formattedDataSize(total, 1, QLocale::DataSizeSIFormat));
    if (secondsLeft >= 0 && sent < total) {
        const qint64 minutes = ZNFTransferEstimate::minutesLeft(secondsLeft);
        line += QStringLiteral(" · ") +
                (minutes == 0 ? ZNFLocalizedString("less than a minute left")
                              : ZNFLocalizedString("about %1 min left").arg(locale.toString(minutes)));
    }
    return {backButton(),
            spacer(10),
            archiveIcon(),
            spacer(10),
            progressItem(std::make_shared<const ZNFConversionProgress>(ZNFConversionProgress{sent, total})),
            spacer(20),
            textItem(line, "centeredText")};
}

// A phone never sent to: its name and the code both screens must show; nothing moves before
// Send.
ZNFMacNotecrateViewController::Screen
ZNFMacNotecrateViewController::sendConfirmationItems(const QString& phone, const QString& code) {
    std::weak_ptr<ZNFMacNotecrateViewController> weak = weakSelf();
    auto send = textItem(ZNFLocalizedString("Send"), "middleButton");
    send->setClickHandler(ZNFOnLeftMouseDown([weak] {
        if (auto self = weak.lock())
            self->confirmSend();
    }));
    return {backButton(),
            spacer(10),
            archiveIcon(),
            spacer(20),
            textItem(phone, "centeredText"),
            textItem(ZNFLocalizedString("Your phone should show %1").arg(code), "centeredText"),
            textItem(ZNFLocalizedString("Send only if both screens show the same code."), "centeredText"),
            spacer(20),
            centred(send)};
}

// Why a send could not start or was refused, in place of the spinner; `action` names the
// button that tries again ("Try again", or what mends the cause first).
ZNFMacNotecrateViewController::Screen
ZNFMacNotecrateViewController::sendFailedItems(const QString& message, const QString& action,
                                               std::function<void()> beforeRetry) {
    std::weak_ptr<ZNFMacNotecrateViewController> weak = weakSelf();
    auto retry = textItem(action, "middleButton");
    retry->setClickHandler(ZNFOnLeftMouseDown([weak, beforeRetry] {
        if (beforeRetry)
            beforeRetry();
        if (auto self = weak.lock()) {
            self->showSendScreen(self->sendWirelesslyItems());
            self->sendToTessanote();
        }
    }));
    return {backButton(),       spacer(10), archiveIcon(), spacer(20),
            errorItem(message), spacer(20), centred(retry)};
}

ZNFMacNotecrateViewController::Screen ZNFMacNotecrateViewController::wirelessSuccessItems(bool transferred) {
    // A failed transfer offers the same archive again at once, as its text asks.
    if (!transferred)
        return sendFailedItems(ZNFLocalizedString("The transfer did not finish. Try again."),
                               ZNFLocalizedString("Try again"));
    return {backButton(),
            spacer(10),
            archiveIcon(),
            spacer(20),
            textItem(ZNFLocalizedString("Success!"), "centeredText"),
            textItem(ZNFLocalizedString("Your notes were transferred successfully to your device. "
                                        "Follow instructions on your phone to finish up."),
                     "centeredText")};
}
