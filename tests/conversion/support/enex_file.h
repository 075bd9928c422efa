#pragma once

// Builds Evernote export files (.enex) from note parts, for the importer's tests, its fuzz
// target and its benchmark. Header-only, so the benchmark can use it without the test support
// library. Every part is the XML as written, so that a test can write it wrong on purpose.

#include <QByteArray>
#include <QByteArrayList>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

namespace Enex {

inline QByteArray hashOf(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
}

// <en-media> for these bytes.
inline QByteArray media(const QByteArray& bytes, const QByteArray& type) {
    return "<en-media hash=\"" + hashOf(bytes) + "\" type=\"" + type + "\"/>";
}

// An ENML document around `body`, with the DOCTYPE Evernote writes.
inline QByteArray enml(const QByteArray& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
           "<!DOCTYPE en-note SYSTEM \"http://xml.evernote.com/pub/enml2.dtd\">\n"
           "<en-note>" +
           body + "</en-note>";
}

// <content> as Evernote writes it: the ENML in one CDATA section, a "]]>" in it split across two.
inline QByteArray content(const QByteArray& enmlText) {
    QByteArray escaped = enmlText;
    escaped.replace("]]>", "]]]]><![CDATA[>");
    return "<content>\n      <![CDATA[" + escaped + "]]>\n    </content>";
}

// Base64 wrapped at 76 columns, as Evernote writes it.
inline QByteArray wrappedBase64(const QByteArray& bytes) {
    const QByteArray base64 = bytes.toBase64();
    QByteArray wrapped;
    wrapped.reserve(base64.size() + base64.size() / 76 + 2);
    for (qsizetype i = 0; i < base64.size(); i += 76)
        wrapped += base64.mid(i, 76) + '\n';
    return wrapped;
}

// A <resource>; `data` null leaves the <data> element out.
inline QByteArray resource(const QByteArray& data, const QByteArray& mime, const QByteArray& fileName = {}) {
    QByteArray xml = "<resource>";
    if (!data.isNull())
        xml += "<data encoding=\"base64\">\n" + wrappedBase64(data) + "</data>";
    xml += "<mime>" + mime + "</mime><width>64</width><height>48</height>";
    if (!fileName.isEmpty())
        xml += "<resource-attributes><file-name>" + fileName + "</file-name></resource-attributes>";
    return xml + "</resource>";
}

struct Note {
    QByteArray title = "Note";
    QByteArray content;                      // the whole <content> element as written
    QByteArray created = "20200102T030405Z"; // null: no <created>
    QByteArray updated = "20200102T030405Z"; // null: no <updated>
    QByteArrayList tags;
    QByteArrayList resources; // <resource> elements

    QByteArray xml() const {
        QByteArray x = "<note><title>" + title + "</title>" + content;
        if (!created.isNull())
            x += "<created>" + created + "</created>";
        if (!updated.isNull())
            x += "<updated>" + updated + "</updated>";
        for (const QByteArray& tag : tags)
            x += "<tag>" + tag + "</tag>";
        x += "<note-attributes><author>Ann</author></note-attributes>";
        for (const QByteArray& r : resources)
            x += r;
        return x + "</note>\n";
    }
};

// A note whose ENML body is `body`.
inline Note note(const QByteArray& title, const QByteArray& body) {
    Note n;
    n.title = title;
    n.content = content(enml(body));
    return n;
}

inline QByteArray header() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE en-export SYSTEM \"http://xml.evernote.com/pub/evernote-export4.dtd\">\n"
           "<en-export export-date=\"20230101T000000Z\" application=\"Evernote\" version=\"10.50\">\n";
}

inline QByteArray file(const QByteArrayList& noteElements) {
    return header() + noteElements.join() + "</en-export>\n";
}
inline QByteArray file(const std::vector<Note>& notes) {
    QByteArrayList elements;
    for (const Note& n : notes)
        elements << n.xml();
    return file(elements);
}

inline bool write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

} // namespace Enex
