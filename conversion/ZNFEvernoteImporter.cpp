#include "conversion/ZNFEvernoteImporter.h"

#include "conversion/ZNFConversionLog.h"
#include "conversion/ZNFEvernoteImporter_p.h"
#include "conversion/ZNFHTMLEntities.h"
#include "conversion/ZNFImportedNoteWriter.h"
#include "conversion/ZNFJSONAdditions.h"
#include "conversion/ZNFNoteBodyText.h"
#include "conversion/ZNFTemporaryFiles.h"
#include "platform/ZNFNumberFormat.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QXmlStreamReader>
#include <QtAlgorithms>

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>

using namespace Qt::StringLiterals;

namespace {

// The file is read this much at a time; the reader holds about one piece.
constexpr qint64 kPieceBytes = 1024 * 1024;

// Base64 decoded as it streams past, in pieces of any length: line breaks and anything else
// outside the alphabet are skipped, as Evernote wraps its data at 76 columns.
class Base64Decoder {
public:
    void feed(const char* text, qsizetype size, QByteArray& out) {
        static const std::array<qint8, 256> table = [] {
            std::array<qint8, 256> t{};
            t.fill(-1);
            const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
            for (int i = 0; i < 64; ++i)
                t[uchar(alphabet[i])] = qint8(i);
            t[uchar('-')] = 62; // the URL-safe alphabet, as some exporters write it
            t[uchar('_')] = 63;
            return t;
        }();
        const qsizetype start = out.size();
        out.resize(start + (size + m_count) / 4 * 3 + 3);
        char* write = out.data() + start;
        const auto* in = reinterpret_cast<const uchar*>(text);
        for (qsizetype i = 0; i < size; ++i) {
            // Four characters of the alphabet at once, the common case between line breaks.
            while (m_count == 0 && i + 4 <= size) {
                const qint8 a = table[in[i]], b = table[in[i + 1]], c = table[in[i + 2]],
                            d = table[in[i + 3]];
                if ((a | b | c | d) < 0)
                    break;
                const quint32 bits = quint32(a) << 18 | quint32(b) << 12 | quint32(c) << 6 | quint32(d);
                *write++ = char(bits >> 16);
                *write++ = char(bits >> 8);
                *write++ = char(bits);
                i += 4;
            }
            if (i >= size)
                break;
            const qint8 value = table[in[i]];
            if (value < 0)
                continue;
            m_bits = (m_bits << 6) | quint32(value);
            if (++m_count == 4) {
                *write++ = char(m_bits >> 16);
                *write++ = char(m_bits >> 8);
                *write++ = char(m_bits);
                m_bits = 0;
                m_count = 0;
            }
        }
        out.resize(write - out.constData());
    }
    // The last one or two bytes of unpadded or padded input.
    void finish(QByteArray& out) {
        if (m_count == 2)
            out += char(m_bits >> 4);
        else if (m_count == 3) {
            out += char(m_bits >> 10);
            out += char(m_bits >> 2);
        }
        m_bits = 0;
        m_count = 0;
    }

private:
    quint32 m_bits = 0;
    int m_count = 0;
};

enum class OverLimit { None, Resource, Note };

// A resource's <data>, decoded while it was read. Only pictures keep their bytes: everything
// else is only named in the note, and a large PDF need not be held.
struct Data {
    QByteArray bytes;
    QString md5; // hex, of all the decoded bytes
    qint64 size = 0;
    QLatin1StringView format; // the picture format of its bytes; empty when they are none
    OverLimit overLimit = OverLimit::None;
};

struct NoteStart {
    qint64 offset = 0; // of its '<' in the file
    qint64 line = 1;
};

// Stands between the .enex file and the XML reader. The reader never sees a <content> or a
// <data> element's text: the ENML is cut out whole, to be repaired before it is read (real
// exports nest CDATA sections there, which no XML reader accepts), and the base64 is decoded
// here in pieces, so that no resource ever becomes one huge string. Each cut element reaches
// the reader empty, with the number of what was cut from it (kCutAttribute); what was cut waits
// under that number in `contents` and `data`. Each note tag gains where it lies in the file
// (kStartAttribute, "offset:line"), for reading on after damage and for saying where it was.
inline constexpr QLatin1StringView kCutAttribute{"notecrate-cut"};
inline constexpr QLatin1StringView kStartAttribute{"notecrate-start"};

class EnexFilter {
public:
    EnexFilter(QFile& file, const ZNFEvernoteLimits& limits) : m_file(file), m_limits(limits) {}

    std::deque<std::pair<qint64, std::optional<QByteArray>>> contents; // nullopt: past the limit
    std::deque<std::pair<qint64, Data>> data;
    QString readError;

    // What was cut under `number`; what waits under lower numbers is for elements the reader
    // did not take and is dropped.
    template <typename T>
    static std::optional<T> take(std::deque<std::pair<qint64, T>>& queue, qint64 number) {
        while (!queue.empty() && queue.front().first < number)
            queue.pop_front();
        if (queue.empty() || queue.front().first != number)
            return std::nullopt;
        T value = std::move(queue.front().second);
        queue.pop_front();
        return value;
    }

    bool atEnd() const { return m_eof && m_buffer.isEmpty(); }

    // Reads on from `start`, the '<' of a note, as if the file began there.
    void restart(const NoteStart& start) {
        m_file.seek(start.offset);
        m_buffer.clear();
        m_bufferOffset = start.offset;
        m_line = start.line;
        m_counted = 0;
        m_state = State::Outer;
        m_eof = false;
        contents.clear();
        data.clear();
    }

    // The next piece of XML for the reader; empty only at the end of the file.
    QByteArray next() {
        QByteArray out;
        while (out.isEmpty() && !atEnd()) {
            const qsizetype held = m_buffer.size();
            m_buffer.resize(held + kPieceBytes);
            const qint64 got = m_file.read(m_buffer.data() + held, kPieceBytes);
            if (got < 0)
                readError = m_file.errorString();
            m_buffer.resize(held + qMax<qint64>(got, 0));
            m_eof = got <= 0;
            process(out);
        }
        return out;
    }

private:
    enum class State { Outer, OuterCData, Comment, Content, Data, SkipTag };

    // The empty element the reader gets for the last thing cut.
    QByteArray cutElement(QByteArrayView name) const {
        return '<' + name.toByteArray() + ' ' + QByteArray(kCutAttribute.data(), kCutAttribute.size()) +
               "=\"" + QByteArray::number(m_cuts) + "\"/>";
    }

    bool isTag(qsizetype at, QByteArrayView name) const {
        const QByteArrayView rest = QByteArrayView(m_buffer).sliced(at + 1);
        if (!rest.startsWith(name) || rest.size() <= name.size())
            return false;
        // Control characters count as blanks: copyText() makes them so for the reader.
        const char after = rest[name.size()];
        return after == '>' || after == '/' || uchar(after) <= ' ';
    }

    qint64 lineAt(qsizetype at) {
        m_line += newlines(m_buffer.constData() + m_counted, at - m_counted);
        m_counted = at;
        return m_line;
    }

    // Line breaks, eight bytes at a time: every byte of the file passes here, base64 included.
    static qint64 newlines(const char* p, qsizetype size) {
        constexpr quint64 ones = 0x0101010101010101ULL, lows = 0x7F7F7F7F7F7F7F7FULL;
        qint64 count = 0;
        qsizetype i = 0;
        for (; i + 8 <= size; i += 8) {
            quint64 word;
            std::memcpy(&word, p + i, 8);
            const quint64 x = word ^ (ones * '\n'); // a zero byte where a '\n' was
            count += qPopulationCount(~(((x & lows) + lows) | x | lows));
        }
        for (; i < size; ++i)
            count += p[i] == '\n';
        return count;
    }

    // Text between tags, cut at the limit on a field (at a character's first byte). The reader
    // gets only what it accepts: the control characters XML forbids become blanks, and bytes that
    // are not UTF-8 U+FFFD (the reader would stop at the first and give up on the whole piece).
    void copyText(QByteArray& out, qsizetype from, qsizetype to) {
        const qsizetype start = out.size();
        // What follows the '<' up to its '>' is the tag, not the text.
        const qsizetype gt = QByteArrayView(m_buffer).sliced(from, to - from).lastIndexOf('>');
        if (gt >= 0) {
            out.append(m_buffer.constData() + from, gt + 1);
            from += gt + 1;
            m_run = 0;
        }
        qsizetype end = to;
        if (m_run + (to - from) > m_limits.fieldBytes) {
            end = from + qMax<qint64>(0, m_limits.fieldBytes - m_run);
            while (end > from && (uchar(m_buffer[end]) & 0xC0) == 0x80)
                --end;
        }
        m_run += to - from;
        out.append(m_buffer.constData() + from, end - from);
        bool ascii = true;
        for (qsizetype i = start; i < out.size(); ++i) {
            const uchar c = uchar(out[i]);
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
                out[i] = ' ';
            ascii = ascii && c < 0x80;
        }
        if (!ascii) {
            const QByteArrayView added = QByteArrayView(out).sliced(start);
            if (!QUtf8StringView(added).isValidUtf8()) {
                const QByteArray repaired = QString::fromUtf8(added).toUtf8();
                out.truncate(start);
                out += repaired;
            }
        }
    }

    // Where the buffer's bytes from `from` to `to` end without cutting a character in two.
    qsizetype wholeCharacters(qsizetype from, qsizetype to) const {
        for (qsizetype i = to - 1; i >= qMax(from, to - 3); --i) {
            const uchar c = uchar(m_buffer[i]);
            if ((c & 0xC0) == 0x80)
                continue;
            const qsizetype length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            return i + length > to ? i : to;
        }
        return to;
    }

    void capture(qsizetype from, qsizetype to) {
        if (m_capture && m_capture->size() + (to - from) > m_limits.contentBytes)
            m_capture.reset();
        if (m_capture)
            m_capture->append(m_buffer.constData() + from, to - from);
    }

    void beginData() {
        m_data = {};
        m_decoder = {};
        m_md5.reset();
        m_decided = false;
    }

    void decode(qsizetype from, qsizetype to, bool last) {
        m_scratch.clear();
        m_decoder.feed(m_buffer.constData() + from, to - from, m_scratch);
        if (last)
            m_decoder.finish(m_scratch);
        m_md5.addData(m_scratch);
        m_data.size += m_scratch.size();
        const bool keep = !m_decided || !m_data.format.isEmpty();
        if (keep && m_data.overLimit == OverLimit::None) {
            if (m_data.bytes.size() + m_scratch.size() > m_limits.resourceBytes)
                m_data.overLimit = OverLimit::Resource;
            else if (m_noteBytes + m_data.bytes.size() + m_scratch.size() > m_limits.notePictureBytes)
                m_data.overLimit = OverLimit::Note;
            if (m_data.overLimit != OverLimit::None)
                m_data.bytes = QByteArray(m_data.bytes.left(ZNFEvernote::kPictureHeadBytes));
            else
                m_data.bytes += m_scratch;
        }
        if (!m_decided && (m_data.bytes.size() >= ZNFEvernote::kPictureHeadBytes || last)) {
            m_decided = true;
            m_data.format = ZNFEvernote::pictureFormat(m_data.bytes.left(ZNFEvernote::kPictureHeadBytes));
            if (m_data.format.isEmpty())
                m_data.bytes.clear();
        }
        if (last) {
            if (m_data.overLimit != OverLimit::None)
                m_data.bytes.clear();
            m_noteBytes += m_data.bytes.size();
            m_data.md5 = QString::fromLatin1(m_md5.result().toHex());
            data.push_back({++m_cuts, std::move(m_data)});
            m_data = {};
        }
    }

    void process(QByteArray& out) {
        const char* b = m_buffer.constData();
        const qsizetype n = m_buffer.size();
        qsizetype pos = 0;
        const auto find = [&](QByteArrayView what) { return QByteArrayView(m_buffer).indexOf(what, pos); };
        while (pos < n) {
            bool wait = false;
            switch (m_state) {
            case State::Outer: {
                const char* lt = static_cast<const char*>(std::memchr(b + pos, '<', size_t(n - pos)));
                const qsizetype at = lt ? lt - b : m_eof ? n : wholeCharacters(pos, n);
                copyText(out, pos, at);
                pos = at;
                if (!lt) {
                    wait = pos < n;
                    break;
                }
                if (n - pos < 16 && !m_eof) {
                    wait = true;
                    break;
                }
                m_run = 0;
                const QByteArrayView rest = QByteArrayView(m_buffer).sliced(pos);
                if (rest.startsWith("<![CDATA[")) {
                    out += "<![CDATA[";
                    pos += 9;
                    m_state = State::OuterCData;
                } else if (rest.startsWith("<!--")) {
                    pos += 4;
                    m_state = State::Comment;
                } else if (isTag(pos, "content") || isTag(pos, "data")) {
                    const qsizetype gt = find(">");
                    if (gt < 0 && !m_eof && n - pos < m_limits.fieldBytes) {
                        wait = true;
                        break;
                    }
                    const bool content = rest[1] == 'c';
                    if (gt < 0) { // no end to the tag: the reader says what is wrong
                        out += '<';
                        ++pos;
                        break;
                    }
                    // The reader is handed the element only once what it held is cut out
                    // whole, so that it finds it waiting.
                    const bool empty = b[gt - 1] == '/';
                    pos = gt + 1;
                    if (content && empty) {
                        contents.push_back({++m_cuts, QByteArray()});
                        out += cutElement("content");
                    } else if (content) {
                        m_capture = QByteArray();
                        m_state = State::Content;
                    } else {
                        beginData();
                        if (empty) {
                            decode(pos, pos, true);
                            out += cutElement("data");
                        } else {
                            m_state = State::Data;
                        }
                    }
                } else {
                    if (isTag(pos, "note")) {
                        out += "<note " + QByteArray(kStartAttribute.data(), kStartAttribute.size()) + "=\"" +
                               QByteArray::number(m_bufferOffset + pos) + ':' +
                               QByteArray::number(lineAt(pos)) + '"';
                        pos += 5;
                        m_noteBytes = 0;
                    } else {
                        out += '<';
                        ++pos;
                    }
                }
                break;
            }
            case State::OuterCData: {
                const qsizetype end = find("]]>");
                if (end >= 0) {
                    copyText(out, pos, end);
                    out += "]]>";
                    pos = end + 3;
                    m_state = State::Outer;
                } else {
                    const qsizetype keep = m_eof ? n : wholeCharacters(pos, qMax(pos, n - 2));
                    copyText(out, pos, keep);
                    pos = keep;
                    wait = !m_eof;
                }
                break;
            }
            case State::Comment: {
                const qsizetype end = find("-->");
                if (end >= 0) {
                    pos = end + 3;
                    m_state = State::Outer;
                } else {
                    pos = m_eof ? n : qMax(pos, n - 2);
                    wait = !m_eof;
                }
                break;
            }
            case State::Content: {
                const qsizetype end = find("</content");
                const qsizetype gt = end < 0 ? -1 : QByteArrayView(m_buffer).indexOf('>', end);
                if (gt >= 0) {
                    capture(pos, end);
                    contents.push_back({++m_cuts, std::move(m_capture)});
                    m_capture.reset();
                    out += cutElement("content");
                    pos = gt + 1;
                    m_state = State::Outer;
                } else {
                    const qsizetype keep = m_eof ? n : (end >= 0 ? end : qMax(pos, n - 9));
                    capture(pos, keep);
                    pos = keep;
                    wait = !m_eof;
                }
                break;
            }
            case State::Data: {
                const char* lt = static_cast<const char*>(std::memchr(b + pos, '<', size_t(n - pos)));
                if (!lt) {
                    decode(pos, n, false);
                    pos = n;
                    break;
                }
                decode(pos, lt - b, true);
                out += cutElement("data");
                pos = lt - b;
                m_state = State::SkipTag;
                break;
            }
            case State::SkipTag: {
                const char* gt = static_cast<const char*>(std::memchr(b + pos, '>', size_t(n - pos)));
                pos = gt ? gt - b + 1 : n;
                if (gt)
                    m_state = State::Outer;
                break;
            }
            }
            if (wait)
                break;
        }
        lineAt(pos);
        m_buffer.remove(0, pos);
        m_bufferOffset += pos;
        m_counted = 0;
    }

    QFile& m_file;
    const ZNFEvernoteLimits& m_limits;
    QByteArray m_buffer; // read, not yet passed on
    qint64 m_bufferOffset = 0;
    qint64 m_line = 1; // at m_counted
    qsizetype m_counted = 0;
    bool m_eof = false;
    State m_state = State::Outer;
    qint64 m_run = 0; // bytes of text since the last tag
    std::optional<QByteArray> m_capture;
    Data m_data;
    Base64Decoder m_decoder;
    QCryptographicHash m_md5{QCryptographicHash::Md5};
    QByteArray m_scratch;
    bool m_decided = false;
    qint64 m_noteBytes = 0; // pictures kept for the current note
    qint64 m_cuts = 0;
};

// The first "<note" tag at or after `from`, or nullopt; `line` is the line `from` is on.
std::optional<NoteStart> nextNoteStart(QFile& file, qint64 from, qint64 line) {
    if (!file.seek(from))
        return std::nullopt;
    QByteArray buffer;
    qint64 offset = from;
    for (;;) {
        QByteArray piece = file.read(kPieceBytes);
        const bool last = piece.isEmpty();
        buffer += piece;
        qsizetype at = 0;
        while ((at = buffer.indexOf("<note", at)) >= 0) {
            if (at + 5 >= buffer.size() && !last)
                break;
            const char after = at + 5 < buffer.size() ? buffer[at + 5] : '\0';
            if (after == '>' || after == ' ' || after == '\t' || after == '\n' || after == '\r' ||
                after == '/')
                return NoteStart{offset + at,
                                 line + std::count(buffer.constBegin(), buffer.constBegin() + at, '\n')};
            ++at;
        }
        if (last)
            return std::nullopt;
        // Keep the tail: a tag may straddle two pieces.
        const qsizetype keep = qMin<qsizetype>(buffer.size(), 5);
        line += std::count(buffer.constBegin(), buffer.constEnd() - keep, '\n');
        offset += buffer.size() - keep;
        buffer = buffer.right(keep);
    }
}

// Notes in a file, for the progress total: a fast count of "<note" tags.
qint64 countNotes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    qint64 count = 0;
    QByteArray tail;
    for (;;) {
        const QByteArray piece = file.read(8 * kPieceBytes);
        if (piece.isEmpty())
            return count;
        const QByteArray text = tail + piece;
        for (qsizetype at = 0; (at = text.indexOf("<note", at)) >= 0; ++at)
            if (at + 5 < text.size() && (text[at + 5] == '>' || text[at + 5] == ' '))
                ++count;
        tail = text.right(5);
    }
}

// Undeclared entities in the .enex itself (an exporter that wrote "&nbsp;" outside the ENML).
class HTMLEntityResolver : public QXmlStreamEntityResolver {
public:
    QString resolveUndeclaredEntity(const QString& name) override {
        const std::optional<char16_t> c = ZNFHTMLEntities::character(name);
        // One it does not know stays as written: the reader would drop it without a word.
        return c ? QString(QChar(*c)) : "&amp;"_L1 + name + u';';
    }
};

struct Resource {
    Data data;
    QString mime;
    QString fileName;

    bool isPicture() const { return !data.bytes.isEmpty() && data.overLimit == OverLimit::None; }
    QString pictureName(int index) const {
        if (!fileName.isEmpty())
            return fileName;
        const QString stem = data.md5.isEmpty() ? QStringLiteral("picture%1").arg(index + 1) : data.md5;
        return data.format.isEmpty() ? stem : stem + u'.' + data.format;
    }
};

struct Note {
    qint64 ordinal = 0;
    NoteStart start;
    QString title, created, updated;
    QStringList tags;
    std::optional<QByteArray> content = QByteArray();
    std::vector<Resource> resources;
    qint64 resourcesOverLimit = 0;
};

class EnexReader {
public:
    EnexReader(const ZNFEvernoteLimits& limits, ZNFConversionOutcome& outcome, ZNFImportedNoteWriter& writer,
               const ZNFConversionProgressHandler& progress, const ZNFConversionCancelFlag& cancelled,
               qint64 total)
        : m_limits(limits), m_outcome(outcome), m_writer(writer), m_progress(progress),
          m_cancelled(cancelled), m_total(total) {}

    bool isCancelled() const { return m_cancelled && m_cancelled->load(); }
    bool anyFileRead() const { return m_filesRead > 0; }
    const QStringList& failures() const { return m_failures; }

    void read(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            m_failures << QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
            qCWarning(lcConversion()).noquote()
                << QStringLiteral("Evernote importer: %1").arg(m_failures.last());
            return;
        }
        ++m_filesRead;
        m_fileName = QFileInfo(path).fileName();
        const QDateTime modified = QFileInfo(file).lastModified();
        m_fileTime = modified.isValid() ? ZNFDate::fromDateTime(modified) : ZNFDate::now();
        EnexFilter filter(file, m_limits);
        HTMLEntityResolver entities;
        QXmlStreamReader xml;
        xml.setEntityResolver(&entities);
        xml.setNamespaceProcessing(false); // "<x:note>" is no note, here as in the filter
        // Where the current reading began (-1: the file's start) and what it has met since.
        NoteStart session{-1, 1};
        qint64 sessionNotes = 0;
        NoteStart lastStart = session;
        int depth = 0, noteDepth = -1, resourceDepth = -1;
        QString* field = nullptr;
        int fieldDepth = -1;
        std::optional<Note> note;
        std::optional<Resource> resource;

        while (!isCancelled() && m_writer.isOK()) {
            const QXmlStreamReader::TokenType token = xml.readNext();
            if (token == QXmlStreamReader::Invalid) {
                if (xml.error() == QXmlStreamReader::PrematureEndOfDocumentError && !filter.atEnd()) {
                    xml.addData(filter.next());
                    continue;
                }
                if (xml.error() == QXmlStreamReader::PrematureEndOfDocumentError) {
                    if (note)
                        cutOff(*note, filter.readError);
                    else if (depth > 0) // cut between notes, or inside a note's own tag
                        qCWarning(lcConversion()).noquote()
                            << QStringLiteral("Evernote importer: %1 ends early, after the note on line %2")
                                   .arg(m_fileName)
                                   .arg(lastStart.line);
                    return;
                }
                // Damaged: the note it is in is left out, and reading starts again at the
                // next note. A reading that failed before its first note skips that note.
                const QString error = xml.errorString();
                qint64 after = lastStart.offset;
                if (note) {
                    leaveOut(*note, ZNFLeftOutReason::UnreadableNote, damaged(note->start, error));
                    after = note->start.offset;
                } else if (session.offset >= 0 && sessionNotes == 0) {
                    Note broken;
                    broken.ordinal = ++m_ordinal;
                    broken.start = session;
                    leaveOut(broken, ZNFLeftOutReason::UnreadableNote, damaged(session, error));
                    after = session.offset;
                } else {
                    qCWarning(lcConversion()).noquote()
                        << QStringLiteral("Evernote importer: %1 is damaged after line %2: %3")
                               .arg(m_fileName)
                               .arg(lastStart.line)
                               .arg(error);
                }
                qint64 afterLine = after < 0 ? 1 : note ? note->start.line : lastStart.line;
                // Each reading starts past the last one's start, so that damage is never met twice.
                if (after <= session.offset) {
                    after = session.offset;
                    afterLine = session.line;
                }
                const std::optional<NoteStart> resume = nextNoteStart(file, after + 1, afterLine);
                if (!resume)
                    return;
                filter.restart(*resume);
                xml.clear();
                xml.addData("<en-export>");
                session = lastStart = *resume;
                sessionNotes = 0;
                depth = 0;
                noteDepth = resourceDepth = fieldDepth = -1;
                field = nullptr;
                note.reset();
                resource.reset();
                continue;
            }
            switch (token) {
            case QXmlStreamReader::StartElement: {
                ++depth;
                if (depth > m_limits.depth) {
                    xml.raiseError(QStringLiteral("elements nest deeper than %1").arg(m_limits.depth));
                    break;
                }
                const QStringView name = xml.name();
                bool numbered = false;
                const qint64 cut = xml.attributes().value(kCutAttribute).toLongLong(&numbered);
                if (name == "data"_L1) {
                    std::optional<Data> data = numbered ? EnexFilter::take(filter.data, cut) : std::nullopt;
                    if (data && note && resource && depth == resourceDepth + 1)
                        resource->data = std::move(*data);
                } else if (name == "content"_L1) {
                    std::optional<std::optional<QByteArray>> content =
                        numbered ? EnexFilter::take(filter.contents, cut) : std::nullopt;
                    if (content && note && !resource && depth == noteDepth + 1)
                        note->content = std::move(*content);
                } else if (!note && name == "note"_L1) {
                    note.emplace();
                    note->ordinal = ++m_ordinal;
                    note->start = noteStart(xml.attributes().value(kStartAttribute), session);
                    lastStart = note->start;
                    ++sessionNotes;
                    noteDepth = depth;
                } else if (note && resource && depth == resourceDepth + 1 && name == "mime"_L1) {
                    field = &resource->mime;
                } else if (note && resource && depth == resourceDepth + 2 && name == "file-name"_L1) {
                    field = &resource->fileName;
                } else if (note && !resource && depth == noteDepth + 1) {
                    if (name == "title"_L1) {
                        field = &note->title;
                    } else if (name == "created"_L1) {
                        field = &note->created;
                    } else if (name == "updated"_L1) {
                        field = &note->updated;
                    } else if (name == "tag"_L1) {
                        note->tags << QString();
                        field = &note->tags.last();
                    } else if (name == "resource"_L1) {
                        resource.emplace();
                        resourceDepth = depth;
                    }
                }
                if (field && fieldDepth < 0)
                    fieldDepth = depth;
                break;
            }
            case QXmlStreamReader::Characters:
                if (field && field->size() < m_limits.fieldBytes)
                    field->append(xml.text().first(
                        qMin<qsizetype>(xml.text().size(), m_limits.fieldBytes - field->size())));
                break;
            case QXmlStreamReader::EndElement:
                if (depth == fieldDepth) {
                    field = nullptr;
                    fieldDepth = -1;
                }
                if (resource && depth == resourceDepth) {
                    if (qsizetype(note->resources.size()) < m_limits.resourcesPerNote)
                        note->resources.push_back(std::move(*resource));
                    else
                        ++note->resourcesOverLimit;
                    resource.reset();
                    resourceDepth = -1;
                } else if (note && depth == noteDepth) {
                    finish(std::move(*note));
                    note.reset();
                    noteDepth = -1;
                }
                --depth;
                break;
            default:
                break;
            }
        }
    }

private:
    QString nameOf(const Note& note) const {
        const QString title = note.title.simplified();
        return title.isEmpty() ? QStringLiteral("note %1 of %2").arg(note.ordinal).arg(m_fileName) : title;
    }

    void leaveOut(const Note& note, ZNFLeftOutReason reason, const QString& why) {
        qCWarning(lcConversion()).noquote()
            << QStringLiteral("Evernote importer: %1 (%2, line %3) left out: %4")
                   .arg(nameOf(note), m_fileName)
                   .arg(note.start.line)
                   .arg(why);
        m_outcome.addLeftOut({reason, nameOf(note), {}, why});
        report();
    }

    // The filter's "offset:line" on a note tag; without it, where the reading began.
    static NoteStart noteStart(QStringView attribute, const NoteStart& fallback) {
        const qsizetype colon = attribute.indexOf(u':');
        bool offsetOK = false, lineOK = false;
        const NoteStart start{attribute.first(qMax<qsizetype>(colon, 0)).toLongLong(&offsetOK),
                              attribute.sliced(colon + 1).toLongLong(&lineOK)};
        return colon > 0 && offsetOK && lineOK ? start : fallback;
    }

    static QString damaged(const NoteStart& start, const QString& error) {
        return QStringLiteral("its XML is damaged (the note starts on line %1: %2)")
            .arg(start.line)
            .arg(error);
    }

    void cutOff(const Note& note, const QString& readError) {
        const QString why =
            readError.isEmpty()
                ? QStringLiteral("%1 ends in the middle of it, at the note that starts on line %2")
                      .arg(m_fileName)
                      .arg(note.start.line)
                : QStringLiteral("%1 could not be read past it: %2").arg(m_fileName, readError);
        leaveOut(note, ZNFLeftOutReason::UnreadableNote, why);
    }

    void report() {
        if (m_progress)
            m_progress(m_ordinal, qMax(m_total, m_ordinal));
    }

    void finish(Note note) {
        if (m_kept >= m_limits.notes) {
            m_outcome.addLeftOut({ZNFLeftOutReason::NoteOverLimit, nameOf(note), {}, {}});
            report();
            return;
        }
        if (!note.content) {
            leaveOut(note, ZNFLeftOutReason::UnreadableNote,
                     QStringLiteral("its text is larger than %1 bytes").arg(m_limits.contentBytes));
            return;
        }
        ++m_kept;
        ZNFImportedNote imported;
        imported.title = nameOf(note);
        std::optional<ZNFDate> created = ZNFEvernoteImporter::parseDate(note.created);
        std::optional<ZNFDate> updated = ZNFEvernoteImporter::parseDate(note.updated);
        imported.created = created.value_or(updated.value_or(m_fileTime));
        imported.updated = updated.value_or(created.value_or(m_fileTime));
        imported.identifier = QStringLiteral("EVERNOTE_%1_%2")
                                  .arg(ZNFShortestNumber(epochRepresentation(imported.created)))
                                  .arg(note.ordinal);

        std::vector<Resource>& resources = note.resources;
        QHash<QString, int> byHash;
        for (int i = 0; i < int(resources.size()); ++i)
            if (resources[size_t(i)].data.size > 0 && !byHash.contains(resources[size_t(i)].data.md5))
                byHash.insert(resources[size_t(i)].data.md5, i);
        std::vector<char> placed(resources.size(), 0);
        // A resource that cannot be carried, each time the text names it: its line, counted once.
        const auto lineFor = [&](int index) {
            const Resource& r = resources[size_t(index)];
            const bool image = r.mime.startsWith("image/"_L1);
            ZNFLeftOutReason reason = ZNFLeftOut::reasonForAttachment(r.mime, r.fileName);
            QString why;
            if (r.data.overLimit == OverLimit::Note) {
                reason = ZNFLeftOutReason::AttachmentOverLimit;
            } else if (r.data.size == 0 && (image || r.data.format.isEmpty())) {
                reason = image ? ZNFLeftOutReason::MissingPicture : reason;
                why = QStringLiteral("its data is missing");
            } else if (r.data.overLimit == OverLimit::Resource) {
                reason = ZNFLeftOutReason::UnreadablePicture;
                why = QStringLiteral("it is larger than %1 bytes").arg(m_limits.resourceBytes);
            } else if (image) {
                reason = ZNFLeftOutReason::UnreadablePicture;
            }
            if (!placed[size_t(index)])
                m_outcome.addLeftOut({reason, imported.title, r.fileName, why});
            placed[size_t(index)] = 1;
            return ZNFLeftOut::placeholderLine(reason, r.fileName);
        };
        const auto media = [&](const QString& hash, const QString& type) -> std::optional<QString> {
            int index = byHash.value(hash, -1);
            // A resource without data has no hash to be found by: it is what the first
            // en-media that finds nothing names.
            for (int i = 0; index < 0 && i < int(resources.size()); ++i)
                if (resources[size_t(i)].data.size == 0 && !placed[size_t(i)])
                    return lineFor(i);
            if (index < 0) {
                const ZNFLeftOutReason reason = type.isEmpty() || type.startsWith("image/"_L1)
                                                    ? ZNFLeftOutReason::MissingPicture
                                                    : ZNFLeftOut::reasonForAttachment(type, {});
                m_outcome.addLeftOut(
                    {reason, imported.title, {}, QStringLiteral("no resource has its hash")});
                return ZNFLeftOut::placeholderLine(reason, {});
            }
            if (resources[size_t(index)].isPicture()) {
                placed[size_t(index)] = 1;
                return std::nullopt;
            }
            return lineFor(index);
        };
        const ZNFEvernoteImporter::Text text =
            ZNFEvernoteImporter::enmlToText(ZNFEvernoteImporter::contentENML(*note.content), media, m_limits);

        QStringList lines;
        if (const QString title = note.title.trimmed(); !title.isEmpty())
            lines << title;
        if (!text.text.isEmpty())
            lines << text.text;
        int inlineCount = 0;
        for (const ZNFEvernoteImporter::Picture& picture : text.pictures) {
            if (!picture.hash.isEmpty()) {
                const int index = byHash.value(picture.hash);
                const Resource& r = resources[size_t(index)];
                imported.pictures.push_back({r.pictureName(index), r.data.bytes});
            } else {
                const QLatin1StringView format =
                    ZNFEvernote::pictureFormat(picture.bytes.left(ZNFEvernote::kPictureHeadBytes));
                imported.pictures.push_back(
                    {QStringLiteral("inline%1.%2").arg(++inlineCount).arg(format), picture.bytes});
            }
        }
        // Resources the text does not place still belong to the note: after what it places.
        for (int i = 0; i < int(resources.size()); ++i) {
            if (placed[size_t(i)])
                continue;
            const Resource& r = resources[size_t(i)];
            if (r.isPicture()) {
                lines << QString(QChar(0xFFFC));
                imported.pictures.push_back({r.pictureName(i), r.data.bytes});
                placed[size_t(i)] = 1;
            } else {
                lines << lineFor(i);
            }
        }
        for (int i = 0; i < text.encrypted; ++i)
            m_outcome.addLeftOut({ZNFLeftOutReason::EncryptedText, imported.title, {}, {}});
        for (int i = 0; i < text.unreadableInline; ++i)
            m_outcome.addLeftOut({ZNFLeftOutReason::UnreadablePicture,
                                  imported.title,
                                  {},
                                  QStringLiteral("an inline picture")});
        if (note.resourcesOverLimit > 0)
            m_outcome.countLeftOut(ZNFLeftOutReason::AttachmentOverLimit, note.resourcesOverLimit);
        imported.body = ZNFNoteBodyText::withTagLine(lines.join(u'\n'), note.tags);
        m_writer.add(std::move(imported));
        report();
    }

    const ZNFEvernoteLimits& m_limits;
    ZNFConversionOutcome& m_outcome;
    ZNFImportedNoteWriter& m_writer;
    const ZNFConversionProgressHandler& m_progress;
    const ZNFConversionCancelFlag& m_cancelled;
    qint64 m_total = 0;
    qint64 m_ordinal = 0; // notes met in all files
    qint64 m_kept = 0;
    int m_filesRead = 0;
    QStringList m_failures;
    QString m_fileName;
    ZNFDate m_fileTime;
};

} // namespace

std::optional<ZNFDate> ZNFEvernoteImporter::parseDate(QStringView text) {
    const QStringView t = text.trimmed();
    if (t.size() != 16 || t[8] != u'T' || t[15] != u'Z')
        return std::nullopt;
    for (qsizetype i : {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13, 14})
        if (!t[i].isDigit() || t[i].unicode() > '9')
            return std::nullopt;
    const auto number = [&t](qsizetype at, qsizetype size) { return t.sliced(at, size).toInt(); };
    const QDate date(number(0, 4), number(4, 2), number(6, 2));
    const QTime time(number(9, 2), number(11, 2), number(13, 2));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return ZNFDate::fromDateTime(QDateTime(date, time, Qt::UTC));
}

ZNFConversionOutcome ZNFEvernoteImporter::convert(const QStringList& enexFiles,
                                                  const ZNFConversionProgressHandler& progress,
                                                  const ZNFConversionCancelFlag& cancelled) {
    return convert(enexFiles, ZNFEvernoteLimits{}, progress, cancelled);
}

ZNFConversionOutcome ZNFEvernoteImporter::convert(const QStringList& enexFiles,
                                                  const ZNFEvernoteLimits& limits,
                                                  const ZNFConversionProgressHandler& progress,
                                                  const ZNFConversionCancelFlag& cancelled) {
    ZNFConversionOutcome result;
    if (enexFiles.isEmpty()) {
        result.failure = QStringLiteral("no .enex file was chosen");
        return result;
    }
    qint64 total = 0;
    for (const QString& path : enexFiles)
        total += countNotes(path);
    ZNFTemporaryFiles::removeLeftovers();
    ZNFImportedNoteWriter writer(ZNFEvernoteImporter_archiveName, result);
    EnexReader reader(limits, result, writer, progress, cancelled, total);
    for (const QString& path : enexFiles) {
        if (reader.isCancelled() || !writer.isOK())
            break;
        reader.read(path);
    }
    const QString files = enexFiles.join(", "_L1);
    writer.finish(reader.isCancelled(), reader.anyFileRead()
                                            ? QStringLiteral("no notes were found in %1").arg(files)
                                            : reader.failures().join("; "_L1));
    return result;
}
