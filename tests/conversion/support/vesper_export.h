#pragma once

// Builds Vesper export folders for the importer's tests and benchmark. Header-only, so the
// benchmark can use it without the test support library.

#include <QByteArray>
#include <QColor>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QString>
#include <map>

namespace VesperExport {

inline bool writeBytes(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

inline QString activeNotes(const QString& exportFolder) {
    return exportFolder + QStringLiteral("/Active Notes");
}
inline QString pictures(const QString& exportFolder) {
    return activeNotes(exportFolder) + QStringLiteral("/Pictures");
}

// Writes "<export>/Active Notes/<name>" and returns its path.
inline QString writeNote(const QString& exportFolder, const QString& name, const QByteArray& content) {
    const QString path = activeNotes(exportFolder) + u'/' + name;
    writeBytes(path, content);
    return path;
}

// Builds an export from a compact description: path under "Active Notes" -> its bytes, or
// "->" and a target under `linkRoot` for a symbolic link.
inline void write(const QString& exportFolder, const std::map<QString, QByteArray>& files,
                  const QString& linkRoot = {}) {
    for (const auto& [name, bytes] : files) {
        const QString path = activeNotes(exportFolder) + u'/' + name;
        QDir().mkpath(QFileInfo(path).path());
        bytes.startsWith("->") ? void(QFile::link(linkRoot + u'/' + QString::fromUtf8(bytes.mid(2)), path))
                               : void(writeBytes(path, bytes));
    }
}

// A note in Vesper's own layout: text, a blank line, then the field lines.
inline QByteArray noteText(const QByteArray& text, const QByteArray& tags, const QByteArray& created,
                           const QByteArray& picture = {}) {
    QByteArray out = text + "\n\n";
    if (!picture.isEmpty())
        out += "Picture: " + picture + "\n";
    if (!tags.isEmpty())
        out += "Tags: " + tags + "\n";
    out += "Created: " + created + "\nModified: " + created + "\n";
    return out;
}

// A picture with some structure, so that encoders do real work.
inline QImage picture(int width, int height, int seed = 0) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((seed * 37) % 360, 120, 230));
    QPainter painter(&image);
    for (int i = 0; i < 24; ++i) {
        painter.setBrush(QColor::fromHsv((seed * 53 + i * 29) % 360, 180, 200));
        painter.setPen(Qt::NoPen);
        const int x = (seed * 131 + i * 97) % width, y = (seed * 71 + i * 53) % height;
        painter.drawEllipse(QPoint(x, y), width / 10 + i, height / 12 + i);
    }
    painter.end();
    return image;
}

} // namespace VesperExport
