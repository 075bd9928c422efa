#include "layout/ZNFLayoutOpenURLEventHandler.h"

#include <QDesktopServices>

void ZNFLayoutOpenURLEventHandler::handleEvent(const std::shared_ptr<ZNFLayoutEvent>& event) {
    if (!event)
        return;
    const QUrl url = urlFromValue(event->event().value(ZNFLayoutOpenURLEventHandler_URL));
    if (url.isEmpty())
        return;
    // Whether some application took the URL is of no interest to the layout.
    QDesktopServices::openUrl(url);
}

QUrl ZNFLayoutOpenURLEventHandler::urlFromValue(const QVariant& value) {
    if (value.typeId() != QMetaType::QString)
        return QUrl();
    const QString text = value.toString();
    if (text.isEmpty())
        return QUrl();
    // Strict parsing: layout data with spaces or stray characters in a URL is a mistake,
    // not something to be repaired into a different address.
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return QUrl();
    return url;
}
