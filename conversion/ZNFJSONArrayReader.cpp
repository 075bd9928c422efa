#include "conversion/ZNFJSONArrayReader.h"

#include "conversion/ZNFConversionLog.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>
#include <cstring>

namespace {

constexpr qint64 kReadChunk = 256 * 1024;
// A streamed member's text is decoded this many bytes at a time.
constexpr qsizetype kSliceBytes = 1 << 20;

bool isBlank(char c) {
    // JSON's whitespace, as Qt's parser reads it.
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isHexOfHighSurrogate(char first, char second) {
    return (first == 'd' || first == 'D') && QByteArrayView("89abAB").contains(second);
}

// One element's text as a value, parsed as Qt parses a whole document.
bool parseElement(const QByteArray& text, QJsonValue& value, QString& error) {
    qsizetype first = 0;
    while (first < text.size() && isBlank(text[first]))
        ++first;
    if (first == text.size()) {
        error = QStringLiteral("an element is missing");
        return false;
    }
    QJsonParseError parseError{};
    if (text[first] == '{' || text[first] == '[') {
        const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
        if (parseError.error == QJsonParseError::NoError)
            value = document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
    } else {
        // A number, string or literal parses only inside an array.
        const QJsonDocument document = QJsonDocument::fromJson('[' + text + ']', &parseError);
        if (parseError.error == QJsonParseError::NoError) {
            if (document.array().size() != 1) {
                error = QStringLiteral("two values without a comma between them");
                return false;
            }
            value = document.array().at(0);
        }
    }
    if (parseError.error != QJsonParseError::NoError) {
        error = parseError.errorString();
        return false;
    }
    return true;
}

// Reads one array: a state machine over the bytes that cuts out each element (and the streamed
// member's string) and leaves the parsing to Qt.
class Reader {
public:
    Reader(const ZNFJSONArrayReader::Take& take, const ZNFJSONArrayLimits& limits, const QByteArray& member,
           QString* error, char closing)
        : m_take(take), m_limits(limits), m_member(member), m_error(error), m_closing(closing) {}

    bool read(QIODevice& device);

private:
    enum class State { Start, FirstElement, Element, AfterComma, End };

    bool fail(const QString& reason) {
        if (m_error)
            *m_error = QStringLiteral("not a JSON array: %1 (element %2)").arg(reason).arg(m_index);
        return false;
    }
    bool byteOfElement(const char* bytes, qint64 i);
    bool byteOfString(const char* bytes, qint64 i);
    // Moves bytes [m_segment, end) of the chunk to the element, or to the member's slice.
    void keep(const char* bytes, qint64 end);
    bool decodeSlice();
    bool finishElement();

    const ZNFJSONArrayReader::Take& m_take;
    const ZNFJSONArrayLimits& m_limits;
    const QByteArray m_member;
    QString* m_error;
    const char m_closing;
    bool m_closed = false;

    State m_state = State::Start;
    qint64 m_segment = -1; // where the bytes not yet kept begin in the chunk
    QByteArray m_element;  // the current element's text so far, the streamed string left empty
    qint64 m_elementBytes = 0;
    qint64 m_index = 0; // of the current element
    int m_depth = 0;    // open brackets and braces inside the element
    bool m_stopped = false;

    bool m_inString = false;
    int m_escapeLeft = 0; // bytes of an escape sequence still to come
    bool m_escapeStart = false;
    char m_hex[2] = {0, 0};
    int m_hexSeen = 0;
    bool m_afterHighSurrogate = false; // the string's last byte ended a \uD800-\uDBFF escape

    // The streamed member: the keys of the element's own members are watched.
    bool m_objectElement = false;
    QByteArray m_key;       // the last string at the top of the element, while short enough
    bool m_keyFits = false; // no longer than the member's name
    bool m_collectingKey = false;
    bool m_memberNext = false; // ':' followed the member's key
    bool m_streaming = false;  // inside the member's string
    QByteArray m_slice;
    std::optional<QString> m_value;
};

void Reader::keep(const char* bytes, qint64 end) {
    if (m_segment < 0 || end <= m_segment)
        return;
    const qint64 n = end - m_segment;
    m_elementBytes += n;
    if (m_elementBytes > m_limits.elementBytes) {
        // Left out whole: nothing more of it is kept.
        m_element = QByteArray();
        m_slice = QByteArray();
        m_value.reset();
    } else if (m_streaming) {
        m_slice.append(bytes + m_segment, n);
    } else {
        m_element.append(bytes + m_segment, n);
    }
    m_segment = end;
}

bool Reader::decodeSlice() {
    if (m_elementBytes > m_limits.elementBytes)
        return true;
    // Cut only where no escape sequence, UTF-8 sequence or surrogate pair is split, so each
    // slice parses as the whole string would.
    QByteArray text;
    text.reserve(m_slice.size() + 4);
    text += "[\"";
    text += m_slice;
    text += "\"]";
    m_slice.resize(0);
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return fail(parseError.errorString());
    if (!m_value)
        m_value = QString();
    *m_value += document.array().at(0).toString();
    return true;
}

bool Reader::byteOfString(const char* bytes, qint64 i) {
    const char c = bytes[i];
    const bool afterHighSurrogate = m_afterHighSurrogate;
    m_afterHighSurrogate = false;
    if (m_streaming && m_escapeLeft == 0 && !afterHighSurrogate && (uchar(c) & 0xC0) != 0x80 &&
        m_slice.size() + (i - m_segment) >= kSliceBytes) {
        keep(bytes, i);
        if (!decodeSlice())
            return false;
    }
    if (m_collectingKey && c != '"') {
        if (m_key.size() < m_member.size())
            m_key += c;
        else
            m_keyFits = false;
    }
    if (m_escapeLeft > 0) {
        if (m_escapeStart) {
            m_escapeStart = false;
            m_escapeLeft = c == 'u' ? 4 : 0;
            m_hexSeen = 0;
        } else {
            if (m_hexSeen < 2)
                m_hex[m_hexSeen] = c;
            ++m_hexSeen;
            if (--m_escapeLeft == 0)
                m_afterHighSurrogate = isHexOfHighSurrogate(m_hex[0], m_hex[1]);
        }
        return true;
    }
    if (c == '\\') {
        m_escapeLeft = 1;
        m_escapeStart = true;
    } else if (c == '"') {
        m_inString = false;
        m_collectingKey = false;
        if (m_streaming) {
            keep(bytes, i);
            if (!decodeSlice())
                return false;
            if (!m_value)
                m_value = QString();
            m_streaming = false; // the closing quote goes to the element: the member reads ""
        }
    }
    return true;
}

bool Reader::byteOfElement(const char* bytes, qint64 i) {
    if (m_inString)
        return byteOfString(bytes, i);
    const char c = bytes[i];
    if (m_objectElement && m_depth == 1 && !isBlank(c)) {
        const bool memberNext = m_memberNext;
        m_memberNext = false;
        if (c == ':') {
            m_memberNext = m_keyFits && m_key == m_member;
        } else if (c == '"' && memberNext) {
            // The member's string: its bytes go to the slices after this quote.
            keep(bytes, i + 1);
            m_streaming = true;
            m_value = QString(); // a later member of the same name wins, as in Qt's parser
        } else if (c == '"') {
            m_collectingKey = true;
            m_keyFits = true;
            m_key.resize(0);
        }
    }
    if (c == '"') {
        m_inString = true;
    } else if (c == '[' || c == '{') {
        if (m_depth == 0 && c == '{' && !m_member.isEmpty())
            m_objectElement = true;
        if (++m_depth > m_limits.depth)
            return fail(QStringLiteral("nested deeper than %1").arg(m_limits.depth));
    } else if (m_depth > 0 && (c == ']' || c == '}')) {
        --m_depth;
    } else if (m_depth == 0 && (c == ',' || c == ']')) {
        keep(bytes, i);
        m_segment = -1;
        if (!finishElement())
            return false;
        m_state = c == ',' ? State::AfterComma : State::End;
    } else if (c == '}') {
        return fail(QStringLiteral("a } without its {"));
    }
    return true;
}

bool Reader::finishElement() {
    if (m_elementBytes > m_limits.elementBytes) {
        qCWarning(lcConversion()).noquote()
            << QStringLiteral("JSON array: element %1 is larger than %2 bytes, left out")
                   .arg(QString::number(m_index), QString::number(m_limits.elementBytes));
        if (m_limits.elementTooLarge)
            m_limits.elementTooLarge(m_index);
    } else {
        QJsonValue value;
        QString reason;
        if (!parseElement(m_element, value, reason))
            return fail(reason);
        m_element = QByteArray(); // freed before the value is used: one copy of the note at a time
        m_stopped = !m_take(std::move(value), std::move(m_value));
    }
    m_element = QByteArray();
    m_value.reset();
    m_elementBytes = 0;
    m_objectElement = false;
    m_memberNext = false;
    ++m_index;
    return true;
}

bool Reader::read(QIODevice& device) {
    QByteArray chunk(kReadChunk, Qt::Uninitialized);
    bool atBeginning = true;
    qint64 n;
    while ((n = device.read(chunk.data(), kReadChunk)) > 0) {
        const char* bytes = chunk.constData();
        qint64 i = 0;
        if (atBeginning) {
            atBeginning = false;
            // A UTF-8 byte order mark, as Qt's parser skips it.
            if (n >= 3 && uchar(bytes[0]) == 0xEF && uchar(bytes[1]) == 0xBB && uchar(bytes[2]) == 0xBF)
                i = 3;
        }
        m_segment = m_state == State::Element ? i : -1;
        for (; i < n; ++i) {
            const char c = bytes[i];
            switch (m_state) {
            case State::Start:
                if (isBlank(c))
                    continue;
                if (c != '[')
                    return fail(QStringLiteral("it does not begin with ["));
                m_state = State::FirstElement;
                continue;
            case State::FirstElement:
            case State::AfterComma:
                if (isBlank(c))
                    continue;
                if (c == ']') {
                    if (m_state == State::AfterComma)
                        return fail(QStringLiteral("a comma before ]"));
                    m_state = State::End;
                    continue;
                }
                m_state = State::Element;
                m_segment = i;
                break; // the first byte of the element, read below
            case State::End:
                if (m_closing && c == m_closing && !m_closed) {
                    m_closed = true;
                    continue;
                }
                if (!isBlank(c))
                    return fail(QStringLiteral("text after the array"));
                continue;
            case State::Element:
                break;
            }
            if (m_inString && m_escapeLeft == 0 && !m_collectingKey && !m_afterHighSurrogate) {
                // Plain text inside a string, up to its next quote or backslash (or the end of
                // a slice), needs nothing but keeping.
                qint64 end = n;
                if (m_streaming)
                    end =
                        std::min(n, i + std::max<qint64>(0, kSliceBytes - m_slice.size() - (i - m_segment)));
                const auto* from = reinterpret_cast<const char*>(bytes + i);
                const void* quote = std::memchr(from, '"', size_t(end - i));
                const void* backslash = std::memchr(from, '\\', size_t(end - i));
                const char* next = bytes + end;
                if (quote)
                    next = std::min(next, static_cast<const char*>(quote));
                if (backslash)
                    next = std::min(next, static_cast<const char*>(backslash));
                if (next > from) {
                    i = next - bytes - 1;
                    continue;
                }
            }
            if (!byteOfElement(bytes, i))
                return false;
            if (m_stopped)
                return true;
        }
        if (m_state == State::Element)
            keep(bytes, n);
    }
    if (n < 0)
        return fail(device.errorString());
    if (m_state != State::End)
        return fail(m_state == State::Start ? QStringLiteral("it is empty")
                                            : QStringLiteral("it is cut short"));
    if (m_closing && !m_closed)
        return fail(QStringLiteral("no %1 after the array").arg(QLatin1Char(m_closing)));
    return true;
}

} // namespace

namespace ZNFJSONArrayReader {

bool read(QIODevice& device, const Take& take, QString* error, const ZNFJSONArrayLimits& limits,
          const QByteArray& streamedMember, char closing) {
    return Reader(take, limits, streamedMember, error, closing).read(device);
}

} // namespace ZNFJSONArrayReader
