#include "conversion/ZNFNotesAppNote.h"

using namespace Qt::StringLiterals;

QString ZNFNotesAppNote::display() {
    if (!m_display) {
        const QJsonValue text = m_dictionary.value("text"_L1);
        m_display = text.isString() ? text.toString().replace(u'\n', u' ') : QStringLiteral("Empty note");
    }
    return *m_display;
}
