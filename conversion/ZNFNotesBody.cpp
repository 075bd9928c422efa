#include "conversion/ZNFNotesBody.h"

#include "conversion/ZNFNoteBodyText.h"

#include <vector>

using namespace Qt::StringLiterals;

namespace ZNFNotesBody {

namespace {

// The paragraph styles of the store.
constexpr int kDottedList = 100;
constexpr int kDashedList = 101;
constexpr int kNumberedList = 102;
constexpr int kChecklist = 103;

QString fromBytes(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

// A link to another note only works inside the Notes app: its text stays, the address goes.
bool isNoteLink(const QString& url) {
    return url.startsWith("applenotes:"_L1) || url.startsWith("notes:"_L1);
}

struct Span {
    qsizetype begin = 0;
    qsizetype end = 0;
    const znf::notestore::AttributeRun* run = nullptr;
};

} // namespace

QString render(const znf::notestore::Note& note, const AttachmentText& attachment) {
    const QString text = fromBytes(note.note_text());
    if (note.attribute_run_size() == 0)
        return text;
    std::vector<Span> spans;
    spans.reserve(size_t(note.attribute_run_size()) + 1);
    qsizetype at = 0;
    for (const znf::notestore::AttributeRun& run : note.attribute_run()) {
        if (at >= text.size())
            break;
        const qsizetype end = qMin<qsizetype>(text.size(), at + qsizetype(run.length()));
        if (end > at)
            spans.push_back({at, end, &run});
        at = end;
    }
    if (at < text.size())
        spans.push_back({at, text.size(), nullptr});

    QString body;
    body.reserve(text.size() + text.size() / 8);
    std::vector<int> numbers; // the count of numbered items at each level so far
    size_t span = 0;
    qsizetype begin = 0;
    while (begin <= text.size()) {
        qsizetype end = text.indexOf(u'\n', begin);
        if (end < 0)
            end = text.size();
        while (span < spans.size() && spans[span].end <= begin)
            ++span;
        // A paragraph's style is that of its first character (of its newline when it is empty).
        const znf::notestore::AttributeRun* first = span < spans.size() ? spans[span].run : nullptr;
        const znf::notestore::ParagraphStyle* style =
            first && first->has_paragraph_style() ? &first->paragraph_style() : nullptr;

        // The paragraph's marks first ("> ", an indent, "- [ ] "), then its text straight into
        // the body: no copy of the paragraph on the way.
        const int type = style ? style->style_type() : -1;
        const int level = style ? qBound(0, style->indent_amount(), ZNFNotesBody_maxIndentLevel) : 0;
        QString marks;
        if (type == kNumberedList) {
            numbers.resize(size_t(level) + 1);
            marks = ZNFNoteBodyText::numberedItem(QString(), ++numbers[size_t(level)], level);
        } else {
            // Any other paragraph ends the numbering at its level and below it.
            const bool listed = type == kDottedList || type == kDashedList || type == kChecklist;
            numbers.resize(listed ? qMin(numbers.size(), size_t(level)) : 0);
            if (type == kDottedList || type == kDashedList)
                marks = ZNFNoteBodyText::bulletItem(QString(), level);
            else if (type == kChecklist)
                marks = ZNFNoteBodyText::checklistItem(QString(), style->checklist().done() != 0, level);
        }
        if (style && style->block_quote() != 0)
            marks = ZNFNoteBodyText::quoteLine(marks);
        body += marks;

        for (size_t s = span; s < spans.size() && spans[s].begin < end; ++s) {
            const qsizetype from = qMax(begin, spans[s].begin), to = qMin(end, spans[s].end);
            if (to <= from)
                continue;
            const QStringView piece = QStringView(text).mid(from, to - from);
            const znf::notestore::AttributeRun* run = spans[s].run;
            if (run && run->has_attachment_info() && attachment) {
                const QString id = fromBytes(run->attachment_info().attachment_identifier());
                const QString uti = fromBytes(run->attachment_info().type_uti());
                for (const QChar c : piece) {
                    if (c != QChar(0xFFFC)) {
                        body += c;
                    } else if (const std::optional<QString> replaced = attachment(id, uti)) {
                        body += *replaced;
                    } else {
                        body += c;
                    }
                }
            } else if (run && run->has_link() && !run->link().empty()) {
                const QString url = fromBytes(run->link());
                if (isNoteLink(url))
                    body += piece;
                else
                    body += ZNFNoteBodyText::link(piece.toString(), url);
            } else {
                body += piece;
            }
        }
        if (end >= text.size())
            break;
        body += u'\n';
        begin = end + 1;
    }
    return body;
}

} // namespace ZNFNotesBody
