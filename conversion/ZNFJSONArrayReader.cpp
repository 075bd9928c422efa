#include "conversion/ZNFJSONArrayReader.h"

#include "platform/ZNFLog.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

constexpr qint64 kReadChunk = 256 * 1024;

bool isBlank(char c) {
    // JSON's whitespace, as Qt's parser reads it.
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
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

} // namespace

namespace ZNFJSONArrayReader {

bool read(QIODevice& device, const std::function<bool(QJsonValue element)>& take, QString* error,
          const ZNFJSONArrayLimits& limits) {
    enum class State { Start, FirstElement, Element, AfterComma, End };
    State state = State::Start;
    QByteArray element; // the current element's text so far
    qint64 elementBytes = 0;
    qint64 index = 0; // of the current element
    int depth = 0;    // open brackets and braces inside the element
    bool inString = false, escaped = false, atBeginning = true;
    auto fail = [error, &index](const QString& reason) {
        if (error)
            *error = QStringLiteral("not a JSON array: %1 (element %2)").arg(reason).arg(index);
        return false;
    };
    bool stopped = false;
    auto finishElement = [&]() {
        if (elementBytes > limits.elementBytes) {
            ZNFLogf("JSON array: element %@ is larger than %@ bytes, left out", QString::number(index),
                    QString::number(limits.elementBytes));
        } else {
            QJsonValue value;
            QString reason;
            if (!parseElement(element, value, reason))
                return fail(reason);
            element = QByteArray(); // freed before the value is used: one copy of the note at a time
            stopped = !take(std::move(value));
        }
        element = QByteArray();
        elementBytes = 0;
        ++index;
        return true;
    };

    QByteArray chunk(kReadChunk, Qt::Uninitialized);
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
        qint64 segment = -1; // where the element's bytes in this chunk begin
        auto keep = [&](qint64 end) {
            if (segment < 0)
                return;
            elementBytes += end - segment;
            if (elementBytes <= limits.elementBytes)
                element.append(bytes + segment, end - segment);
            else
                element = QByteArray();
            segment = -1;
        };
        for (; i < n; ++i) {
            const char c = bytes[i];
            switch (state) {
            case State::Start:
                if (isBlank(c))
                    continue;
                if (c != '[')
                    return fail(QStringLiteral("it does not begin with ["));
                state = State::FirstElement;
                continue;
            case State::FirstElement:
            case State::AfterComma:
                if (isBlank(c))
                    continue;
                if (c == ']') {
                    if (state == State::AfterComma)
                        return fail(QStringLiteral("a comma before ]"));
                    state = State::End;
                    continue;
                }
                state = State::Element;
                segment = i;
                break; // the first byte of the element, read below
            case State::End:
                if (!isBlank(c))
                    return fail(QStringLiteral("text after the array"));
                continue;
            case State::Element:
                if (segment < 0)
                    segment = i;
                break;
            }
            // Inside an element.
            if (inString) {
                if (escaped)
                    escaped = false;
                else if (c == '\\')
                    escaped = true;
                else if (c == '"')
                    inString = false;
                continue;
            }
            if (c == '"') {
                inString = true;
            } else if (c == '[' || c == '{') {
                if (++depth > limits.depth)
                    return fail(QStringLiteral("nested deeper than %1").arg(limits.depth));
            } else if (depth > 0 && (c == ']' || c == '}')) {
                --depth;
            } else if (depth == 0 && (c == ',' || c == ']')) {
                keep(i);
                if (!finishElement())
                    return false;
                if (stopped)
                    return true;
                state = c == ',' ? State::AfterComma : State::End;
            } else if (c == '}') {
                return fail(QStringLiteral("a } without its {"));
            }
        }
        keep(n);
    }
    if (n < 0)
        return fail(device.errorString());
    if (state != State::End)
        return fail(state == State::Start ? QStringLiteral("it is empty")
                                          : QStringLiteral("it is cut short"));
    return true;
}

} // namespace ZNFJSONArrayReader
