// ENML, Evernote's XHTML dialect, as the plain text every importer writes. Read leniently, as a
// browser reads HTML: exports from phones and web clips are often not well-formed, and a tag
// out of place must not cost the text after it.
#include "conversion/ZNFEvernoteImporter.h"
#include "conversion/ZNFEvernoteImporter_p.h"
#include "conversion/ZNFHTMLEntities.h"
#include "conversion/ZNFNoteBodyText.h"

#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

namespace ZNFEvernote {

QLatin1StringView pictureFormat(const QByteArray& head) {
    const auto at = [&head](qsizetype offset, QByteArrayView magic) {
        return head.size() >= offset + magic.size() &&
               QByteArrayView(head).sliced(offset, magic.size()) == magic;
    };
    if (at(0, "\xFF\xD8\xFF"))
        return "jpg"_L1;
    if (at(0, "\x89PNG\r\n\x1A\n"))
        return "png"_L1;
    if (at(0, "GIF87a") || at(0, "GIF89a"))
        return "gif"_L1;
    if (at(0, "RIFF") && at(8, "WEBP"))
        return "webp"_L1;
    if (at(0, QByteArrayView("II*\0", 4)) || at(0, QByteArrayView("MM\0*", 4)))
        return "tiff"_L1;
    if (at(0, "BM") && head.size() >= 14)
        return "bmp"_L1;
    if (at(4, "ftyp")) {
        for (const char* brand : {"heic", "heix", "hevc", "hevx", "heim", "heis", "mif1", "msf1"})
            if (at(8, brand))
                return "heic"_L1;
    }
    return {};
}

QByteArray dataURLBytes(const QString& url, qint64 limit) {
    if (!url.startsWith("data:"_L1, Qt::CaseInsensitive))
        return {};
    const qsizetype comma = url.indexOf(u',');
    if (comma < 0)
        return {};
    const QStringView header = QStringView(url).sliced(5, comma - 5);
    const QStringView payload = QStringView(url).sliced(comma + 1);
    // Base64 is 4 characters for 3 bytes; percent-encoding at least 1 for 1.
    const bool base64 = header.endsWith(";base64"_L1, Qt::CaseInsensitive);
    if ((base64 ? payload.size() / 4 * 3 : payload.size()) > limit + 3)
        return {};
    QByteArray bytes = base64 ? QByteArray::fromBase64(payload.toLatin1())
                              : QByteArray::fromPercentEncoding(payload.toUtf8());
    return bytes.size() > limit ? QByteArray() : bytes;
}

} // namespace ZNFEvernote

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

bool isNameChar(QChar c) {
    return c.isLetterOrNumber() || c == u'-' || c == u'_' || c == u':' || c == u'.';
}

// "&amp;", "&nbsp;", "&#233;", "&#xE9;" as characters; an unknown or unterminated reference
// stays as written.
QString decodeReferences(QStringView text) {
    if (!text.contains(u'&'))
        return text.toString();
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'&') {
            result += c;
            continue;
        }
        const qsizetype semicolon = text.indexOf(u';', i + 1);
        if (semicolon < 0 || semicolon - i > 40) {
            result += c;
            continue;
        }
        const QStringView name = text.sliced(i + 1, semicolon - i - 1);
        std::optional<char32_t> decoded;
        if (name.startsWith(u'#')) {
            bool ok = false;
            const bool hex = name.startsWith("#x"_L1, Qt::CaseInsensitive);
            const uint value = hex ? name.sliced(2).toUInt(&ok, 16) : name.sliced(1).toUInt(&ok, 10);
            // A reference to no character (0, a lone surrogate, past U+10FFFF) is a replacement.
            if (ok)
                decoded = value != 0 && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF)
                              ? char32_t(value)
                              : char32_t(0xFFFD);
        } else if (const std::optional<char16_t> html = ZNFHTMLEntities::character(name)) {
            decoded = *html;
        }
        if (!decoded) {
            result += c;
            continue;
        }
        const char32_t ucs4[] = {*decoded};
        result += QString::fromUcs4(ucs4, 1);
        i = semicolon;
    }
    return result;
}

struct Attribute {
    QString name; // lower case
    QString value;
};

struct Tag {
    QString name; // lower case
    std::vector<Attribute> attributes;
    bool closing = false;
    bool selfClosing = false;
    qsizetype end = 0; // just past its '>'

    QString attribute(QLatin1StringView key) const {
        for (const Attribute& a : attributes)
            if (a.name == key)
                return a.value;
        return {};
    }
};

// The tag that starts at s[at] ('<'), or nullopt when no '>' ends it: then the '<' is text.
std::optional<Tag> readTag(QStringView s, qsizetype at) {
    Tag tag;
    qsizetype i = at + 1;
    if (i < s.size() && s[i] == u'/') {
        tag.closing = true;
        ++i;
    }
    const qsizetype nameStart = i;
    if (i >= s.size() || !s[i].isLetter())
        return std::nullopt;
    while (i < s.size() && isNameChar(s[i]))
        ++i;
    if (i == nameStart)
        return std::nullopt;
    tag.name = s.sliced(nameStart, i - nameStart).toString().toLower();
    while (i < s.size()) {
        while (i < s.size() && isBlank(s[i]))
            ++i;
        if (i >= s.size())
            return std::nullopt;
        if (s[i] == u'>') {
            tag.end = i + 1;
            return tag;
        }
        if (s[i] == u'<') // a tag left open: the '<' that began it is text
            return std::nullopt;
        if (s[i] == u'/') {
            tag.selfClosing = true;
            ++i;
            continue;
        }
        const qsizetype keyStart = i;
        while (i < s.size() && !isBlank(s[i]) && s[i] != u'=' && s[i] != u'>' && s[i] != u'/' && s[i] != u'<')
            ++i;
        Attribute attribute{s.sliced(keyStart, i - keyStart).toString().toLower(), {}};
        if (i == keyStart) // a stray '=' or quote
            ++i;
        while (i < s.size() && isBlank(s[i]))
            ++i;
        if (i < s.size() && s[i] == u'=') {
            ++i;
            while (i < s.size() && isBlank(s[i]))
                ++i;
            if (i < s.size() && (s[i] == u'"' || s[i] == u'\'')) {
                const qsizetype close = s.indexOf(s[i], i + 1);
                if (close < 0)
                    return std::nullopt;
                attribute.value = decodeReferences(s.sliced(i + 1, close - i - 1));
                i = close + 1;
            } else {
                const qsizetype valueStart = i;
                while (i < s.size() && !isBlank(s[i]) && s[i] != u'>')
                    ++i;
                attribute.value = decodeReferences(s.sliced(valueStart, i - valueStart));
            }
        }
        if (!attribute.name.isEmpty())
            tag.attributes.push_back(std::move(attribute));
        tag.selfClosing = false; // a '/' counts only right before the '>'
    }
    return std::nullopt;
}

bool isVoid(const QString& name) {
    static const QStringList names{u"br"_s,    u"hr"_s,   u"img"_s,    u"en-media"_s, u"en-todo"_s,
                                   u"input"_s, u"meta"_s, u"link"_s,   u"col"_s,      u"area"_s,
                                   u"base"_s,  u"wbr"_s,  u"source"_s, u"embed"_s,    u"param"_s};
    return names.contains(name);
}

bool isBlock(const QString& name) {
    static const QStringList names{
        u"div"_s,      u"p"_s,       u"h1"_s,         u"h2"_s,      u"h3"_s,     u"h4"_s,     u"h5"_s,
        u"h6"_s,       u"en-note"_s, u"table"_s,      u"tbody"_s,   u"thead"_s,  u"tfoot"_s,  u"caption"_s,
        u"center"_s,   u"address"_s, u"article"_s,    u"section"_s, u"header"_s, u"footer"_s, u"aside"_s,
        u"nav"_s,      u"figure"_s,  u"figcaption"_s, u"dl"_s,      u"dt"_s,     u"dd"_s,     u"form"_s,
        u"fieldset"_s, u"details"_s, u"summary"_s,    u"main"_s,    u"body"_s,   u"html"_s};
    return names.contains(name);
}

bool isSkipped(const QString& name) {
    return name == "style"_L1 || name == "script"_L1 || name == "head"_L1 || name == "title"_L1 ||
           name == "object"_L1 || name == "en-crypt"_L1;
}

// Where text goes while it is read: the note, a table cell or a link's text.
struct Output {
    QString text;
    bool lineStart = true;     // nothing written on the current line yet
    bool pendingSpace = false; // blanks read since the last character, shown as one
    QString itemPrefix;        // a list item's marker, written before its first character
    bool todoMarker = false;   // the marker is a to-do's checkbox, not its list item's
    int quoteDepth = 0;

    void beginLine() {
        if (!lineStart)
            return;
        for (int i = 0; i < quoteDepth; ++i)
            text += "> "_L1;
        text += itemPrefix;
        itemPrefix.clear();
        todoMarker = false;
        lineStart = false;
        pendingSpace = false;
    }
    void put(QChar c) {
        if (lineStart)
            beginLine();
        else if (pendingSpace)
            text += u' ';
        pendingSpace = false;
        text += c;
    }
    void write(QStringView s, bool preformatted) {
        for (QChar c : s) {
            if (preformatted) {
                if (c == u'\n')
                    newline();
                else if (c != u'\r')
                    put(c == QChar(0xA0) ? QChar(u' ') : c);
            } else if (isBlank(c)) {
                pendingSpace = !lineStart;
            } else {
                // A no-break space is a blank that is never folded into its neighbours.
                put(c == QChar(0xA0) ? QChar(u' ') : c);
            }
        }
    }
    // An item or to-do marker still waiting for its first character is written: an empty item
    // keeps its marker, and a checkbox stays on its own line.
    void writePendingMarker() {
        if (lineStart && !itemPrefix.isEmpty())
            beginLine();
    }
    void newline() {
        writePendingMarker();
        text += u'\n';
        lineStart = true;
        pendingSpace = false;
    }
    // The end of a block: its pending marker, then a line break unless the line is empty. A
    // paragraph inside a list item ends without the item's marker, which waits for the item's
    // text; a checkbox alone in its paragraph stays there.
    void endBlock(bool paragraph = false) {
        if (!paragraph || todoMarker)
            writePendingMarker();
        boundary();
    }
    void boundary() {
        if (!lineStart) {
            text += u'\n';
            lineStart = true;
            pendingSpace = false;
        }
    }
    void line(const QString& s) {
        boundary();
        if (s.isEmpty())
            return;
        beginLine();
        text += s;
        boundary();
    }
};

enum class Kind { Inline, Block, List, Item, Row, Cell, Link, Skip, Pre, Quote };

struct Frame {
    Frame(QString n, Kind k) : name(std::move(n)), kind(k) {}
    QString name;
    Kind kind = Kind::Inline;
    bool ordered = false;
    bool todo = false;
    int number = 1; // a numbered list's next item
    QString href;
    QStringList cells;
};

class EnmlReader {
public:
    EnmlReader(const ZNFEvernoteImporter::MediaText& media, const ZNFEvernoteLimits& limits)
        : m_media(media), m_limits(limits) {}

    ZNFEvernoteImporter::Text read(QStringView s) {
        qsizetype i = 0;
        const qsizetype n = s.size();
        while (i < n) {
            qsizetype lt = s.indexOf(u'<', i);
            if (lt < 0)
                lt = n;
            if (lt > i)
                text(decodeReferences(s.sliced(i, lt - i)));
            if (lt >= n)
                break;
            i = lt;
            const QStringView rest = s.sliced(i);
            if (rest.startsWith("<!--"_L1)) {
                const qsizetype end = s.indexOf("-->"_L1, i + 4);
                i = end < 0 ? n : end + 3;
            } else if (rest.startsWith("<![CDATA["_L1)) {
                const qsizetype end = s.indexOf("]]>"_L1, i + 9);
                text(s.sliced(i + 9, (end < 0 ? n : end) - i - 9));
                i = end < 0 ? n : end + 3;
            } else if (rest.startsWith("<?"_L1)) {
                const qsizetype end = s.indexOf("?>"_L1, i + 2);
                i = end < 0 ? n : end + 2;
            } else if (rest.startsWith("<!"_L1)) {
                i = declarationEnd(s, i);
            } else if (std::optional<Tag> tag = readTag(s, i)) {
                i = tag->end;
                if (tag->closing)
                    close(tag->name);
                else
                    open(*tag);
            } else {
                text(u"<");
                ++i;
            }
        }
        while (!m_frames.empty())
            pop();
        m_outputs.front().writePendingMarker();
        QString& all = m_outputs.front().text;
        qsizetype end = all.size();
        while (end > 0 && all[end - 1].isSpace())
            --end;
        qsizetype start = 0;
        while (start < end && all[start] == u'\n')
            ++start;
        m_result.text = all.sliced(start, end - start);
        return std::move(m_result);
    }

private:
    Output& out() { return m_outputs.back(); }

    // A DOCTYPE may hold an internal subset in brackets, with '>' inside.
    static qsizetype declarationEnd(QStringView s, qsizetype at) {
        int brackets = 0;
        for (qsizetype i = at + 2; i < s.size(); ++i) {
            if (s[i] == u'[')
                ++brackets;
            else if (s[i] == u']')
                --brackets;
            else if (s[i] == u'>' && brackets <= 0)
                return i + 1;
        }
        return s.size();
    }

    void text(QStringView s) {
        if (m_skipDepth > 0)
            return;
        // U+FFFC marks a picture's place; one in the note's own text would move the pictures.
        if (s.contains(QChar::ObjectReplacementCharacter))
            out().write(s.toString().remove(QChar::ObjectReplacementCharacter), m_preDepth > 0);
        else
            out().write(s, m_preDepth > 0);
    }

    int listLevel() const {
        int lists = 0;
        for (const Frame& f : m_frames)
            lists += f.kind == Kind::List;
        return qMax(0, lists - 1);
    }

    Frame* innermost(Kind kind, Kind stopAt) {
        for (auto it = m_frames.rbegin(); it != m_frames.rend(); ++it) {
            if (it->kind == kind)
                return &*it;
            if (it->kind == stopAt)
                return nullptr;
        }
        return nullptr;
    }

    void open(const Tag& tag) {
        const QString& name = tag.name;
        if (m_skipDepth > 0) {
            if (!isVoid(name) && !tag.selfClosing)
                push({name, Kind::Skip});
            return;
        }
        if (isVoid(name)) {
            openVoid(tag);
            return;
        }
        if (qsizetype(m_frames.size()) >= m_limits.depth) {
            // Past the limit the markup is flat; its text is still read.
            if (!tag.selfClosing)
                ++m_overflow;
            return;
        }
        // A cell opened in a row whose last cell is still open ends that cell first, as a browser
        // reads <tr><td>a<td>b</tr>: two cells, not one.
        if (name == "td"_L1 || name == "th"_L1)
            if (const Frame* cell = innermost(Kind::Cell, Kind::Row))
                close(QString(cell->name));
        Frame frame{name, Kind::Inline};
        if (name == "en-crypt"_L1) {
            ++m_result.encrypted;
            out().line(ZNFLeftOut::placeholderLine(ZNFLeftOutReason::EncryptedText, {}));
            frame.kind = Kind::Skip;
        } else if (isSkipped(name)) {
            frame.kind = Kind::Skip;
        } else if (name == "ul"_L1 || name == "ol"_L1) {
            out().boundary();
            frame.kind = Kind::List;
            frame.ordered = name == "ol"_L1;
            // Evernote's own checklists since 2020: <ul style="--en-todo:true;">.
            frame.todo = styleSays(tag, "--en-todo"_L1);
            bool ok = false;
            const int start = tag.attribute("start"_L1).toInt(&ok);
            frame.number = ok ? start : 1;
        } else if (name == "li"_L1) {
            out().boundary();
            frame.kind = Kind::Item;
            Frame* list = innermost(Kind::List, Kind::Cell);
            const int level = listLevel();
            if (list && list->todo)
                out().itemPrefix =
                    ZNFNoteBodyText::checklistItem({}, styleSays(tag, "--en-checked"_L1), level);
            else if (list && list->ordered)
                out().itemPrefix = ZNFNoteBodyText::numberedItem({}, list->number++, level);
            else
                out().itemPrefix = ZNFNoteBodyText::bulletItem({}, level);
        } else if (name == "tr"_L1) {
            out().boundary();
            frame.kind = Kind::Row;
        } else if ((name == "td"_L1 || name == "th"_L1) && innermost(Kind::Row, Kind::Cell)) {
            frame.kind = Kind::Cell;
        } else if (name == "a"_L1) {
            frame.kind = Kind::Link;
            frame.href = tag.attribute("href"_L1).trimmed();
        } else if (name == "pre"_L1) {
            out().boundary();
            frame.kind = Kind::Pre;
        } else if (name == "blockquote"_L1) {
            out().boundary();
            frame.kind = Kind::Quote;
        } else if (isBlock(name)) {
            out().boundary();
            frame.kind = Kind::Block;
        }
        push(std::move(frame));
        if (tag.selfClosing)
            pop();
    }

    static bool styleSays(const Tag& tag, QLatin1StringView property) {
        QString style = tag.attribute("style"_L1);
        style.remove(u' ');
        return style.contains(property + ":true"_L1, Qt::CaseInsensitive);
    }

    void openVoid(const Tag& tag) {
        const QString& name = tag.name;
        if (name == "br"_L1) {
            out().newline();
        } else if (name == "hr"_L1) {
            out().boundary();
        } else if (name == "en-todo"_L1) {
            const bool done = tag.attribute("checked"_L1).compare("true"_L1, Qt::CaseInsensitive) == 0;
            if (out().lineStart) {
                out().itemPrefix = ZNFNoteBodyText::checklistItem(
                    {}, done, innermost(Kind::Item, Kind::Cell) ? listLevel() : 0);
                out().todoMarker = true;
            } else
                out().write(done ? u"[x]\u00A0" : u"[ ]\u00A0", false);
        } else if (name == "en-media"_L1) {
            const QString hash = tag.attribute("hash"_L1).trimmed().toLower();
            const QString type = tag.attribute("type"_L1).trimmed().toLower();
            const std::optional<QString> shown = m_media ? m_media(hash, type) : defaultMedia(type);
            if (!shown) {
                m_result.pictures.push_back({hash, {}});
                out().put(QChar(0xFFFC));
            } else if (!shown->isEmpty()) {
                out().line(*shown);
            }
        } else if (name == "img"_L1) {
            const QString source = tag.attribute("src"_L1).trimmed();
            if (!source.startsWith("data:"_L1, Qt::CaseInsensitive))
                return; // a picture on the web is not part of the note
            QByteArray bytes = ZNFEvernote::dataURLBytes(source, m_limits.resourceBytes);
            if (!ZNFEvernote::pictureFormat(bytes.left(ZNFEvernote::kPictureHeadBytes)).isEmpty()) {
                m_result.pictures.push_back({{}, std::move(bytes)});
                out().put(QChar(0xFFFC));
            } else {
                ++m_result.unreadableInline;
                out().line(ZNFLeftOut::placeholderLine(ZNFLeftOutReason::UnreadablePicture, {}));
            }
        }
    }

    static std::optional<QString> defaultMedia(const QString& type) {
        if (type.startsWith("image/"_L1))
            return std::nullopt;
        return ZNFLeftOut::placeholderLine(ZNFLeftOut::reasonForAttachment(type, {}), {});
    }

    void push(Frame frame) {
        if (frame.kind == Kind::Skip)
            ++m_skipDepth;
        else if (frame.kind == Kind::Pre)
            ++m_preDepth;
        else if (frame.kind == Kind::Quote)
            ++out().quoteDepth;
        else if (frame.kind == Kind::Cell || frame.kind == Kind::Link)
            m_outputs.emplace_back();
        m_frames.push_back(std::move(frame));
    }

    void close(const QString& name) {
        if (m_overflow > 0 && m_skipDepth == 0) {
            --m_overflow;
            return;
        }
        // A closing tag closes what it names and what was left open inside it; one that names
        // nothing open is ignored.
        for (auto it = m_frames.rbegin(); it != m_frames.rend(); ++it) {
            if (it->name == name) {
                const qsizetype count = it - m_frames.rbegin() + 1;
                for (qsizetype i = 0; i < count; ++i)
                    pop();
                return;
            }
        }
    }

    void pop() {
        Frame frame = std::move(m_frames.back());
        m_frames.pop_back();
        switch (frame.kind) {
        case Kind::Skip:
            --m_skipDepth;
            break;
        case Kind::Pre:
            --m_preDepth;
            out().endBlock();
            break;
        case Kind::Quote:
            out().endBlock();
            --out().quoteDepth;
            break;
        case Kind::Item:
            out().endBlock();
            break;
        case Kind::Block:
        case Kind::List:
            out().endBlock(true);
            break;
        case Kind::Row: {
            const bool empty = std::all_of(frame.cells.cbegin(), frame.cells.cend(),
                                           [](const QString& cell) { return cell.isEmpty(); });
            if (!empty)
                out().line(ZNFNoteBodyText::tableRow(frame.cells));
            break;
        }
        case Kind::Cell: {
            m_outputs.back().writePendingMarker();
            const QString cell = m_outputs.back().text.simplified();
            m_outputs.pop_back();
            if (Frame* row = innermost(Kind::Row, Kind::Cell))
                row->cells << cell;
            else
                out().write(cell, false);
            break;
        }
        case Kind::Link: {
            const QString shown = m_outputs.back().text.simplified();
            m_outputs.pop_back();
            // A data: URL is bytes, never text a person reads.
            const bool data = frame.href.startsWith("data:"_L1, Qt::CaseInsensitive);
            out().write(data ? shown : ZNFNoteBodyText::link(shown, frame.href), false);
            break;
        }
        case Kind::Inline:
            break;
        }
    }

    const ZNFEvernoteImporter::MediaText& m_media;
    const ZNFEvernoteLimits& m_limits;
    std::vector<Frame> m_frames;
    std::vector<Output> m_outputs{1};
    int m_skipDepth = 0;
    int m_preDepth = 0;
    int m_overflow = 0;
    ZNFEvernoteImporter::Text m_result;
};

} // namespace

ZNFEvernoteImporter::Text ZNFEvernoteImporter::enmlToText(const QString& enml, const MediaText& media,
                                                          const ZNFEvernoteLimits& limits) {
    return EnmlReader(media, limits).read(enml);
}

QString ZNFEvernoteImporter::contentENML(const QByteArray& raw) {
    const QString content = QString::fromUtf8(raw);
    const qsizetype first = content.indexOf("<![CDATA["_L1);
    const qsizetype last = content.lastIndexOf("]]>"_L1);
    if (first < 0 || last < first + 9) {
        // Without CDATA the ENML is either escaped text (phones write it so) or markup as is.
        const QStringView trimmed = QStringView(content).trimmed();
        return trimmed.startsWith(u'<') ? trimmed.toString() : decodeReferences(trimmed);
    }
    // From the first CDATA opening to the last closing: a CDATA section nested in the note's
    // ENML ends the outer one early in a strict reading, and would lose the rest of the note.
    // Sections split to carry a "]]>" ("]]]]><![CDATA[>") join up again.
    QString enml = content.sliced(first + 9, last - first - 9);
    enml.replace("]]><![CDATA["_L1, QString());
    const QStringView before = QStringView(content).first(first).trimmed();
    const QStringView after = QStringView(content).sliced(last + 3).trimmed();
    if (!before.isEmpty())
        enml.prepend(decodeReferences(before));
    if (!after.isEmpty())
        enml.append(decodeReferences(after));
    return enml;
}
