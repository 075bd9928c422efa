#include "conversion/ZNFNoteBodyText.h"

using namespace Qt::StringLiterals;

namespace ZNFNoteBodyText {

namespace {
QString indent(int level) {
    return QString(qMax(0, level) * kIndentPerLevel, u' ');
}
} // namespace

QString checklistItem(const QString& text, bool done, int level) {
    return indent(level) + (done ? "- [x] "_L1 : "- [ ] "_L1) + text;
}

QString bulletItem(const QString& text, int level) {
    return indent(level) + "- "_L1 + text;
}

QString numberedItem(const QString& text, int number, int level) {
    return indent(level) + QString::number(number) + ". "_L1 + text;
}

QString quoteLine(const QString& text) {
    return "> "_L1 + text;
}

QString tableRow(const QStringList& cells) {
    return cells.join(" | "_L1);
}

QString link(const QString& text, const QString& url) {
    const QString shown = text.trimmed();
    if (url.isEmpty())
        return text;
    if (shown.isEmpty() || shown == url)
        return url;
    return text + " ("_L1 + url + u')';
}

QString tag(const QString& name) {
    QString tag = name;
    tag.remove(u' ');
    return tag.toLower();
}

QString tagLine(const QStringList& names) {
    QStringList tags;
    for (const QString& name : names)
        if (const QString t = tag(name); !t.isEmpty())
            tags << u'#' + t;
    return tags.join(u' ');
}

QString withTagLine(QString text, const QStringList& names) {
    const QString tags = tagLine(names);
    if (tags.isEmpty())
        return text;
    if (!text.isEmpty())
        text += "\n\n"_L1;
    return text + tags;
}

} // namespace ZNFNoteBodyText
