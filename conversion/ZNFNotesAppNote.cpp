#include "conversion/ZNFNotesAppNote.h"

QString ZNFNotesAppNote::display() {
    if (!m_display) {
        const QJsonValue text = m_dictionary.value(QLatin1String("text"));
        m_display = text.isString() ? text.toString().replace(u'\n', u' ') : QStringLiteral("Empty note");
    }
    return *m_display;
}
