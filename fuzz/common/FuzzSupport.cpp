#include "FuzzSupport.h"

#include "platform/ZNFLog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace NCFuzz {

namespace {

void dropMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

ScopedHome& environment() {
    static ScopedHome* home = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("AVAHI_COMPAT_NOWARN", "1");
        if (qEnvironmentVariableIsEmpty("NOTECRATE_FUZZ_VERBOSE")) {
            // Logging every malformed input would cost more than parsing it.
            qInstallMessageHandler(dropMessage);
            ZNFSetLogSink([](const QString&) {});
        }
        static int argc = 1;
        static char name[] = "notecrate-fuzz";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
        auto* scoped = new ScopedHome;
        // Temporary files too: checks that count them must not see another process's.
        const QString temp = scoped->root() + QStringLiteral("/tmp");
        QDir().mkpath(temp);
        qputenv("TMPDIR", QFile::encodeName(temp));
        return scoped;
    }();
    return *home;
}

void fail(const char* file, int line, const char* condition, const QString& detail) {
    std::fprintf(stderr, "\n*** fuzz check failed at %s:%d: %s\n*** %s\n", file, line, condition,
                 detail.toLocal8Bit().constData());
    std::fflush(stderr);
    std::abort();
}

QByteArray bytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

Archive checkArchive(const QString& path) {
    Archive archive;
    FUZZ_CHECK(!path.isEmpty(), QStringLiteral("no archive path"));
    archive.zip = readZip(path);
    FUZZ_CHECK(archive.zip.opened, QStringLiteral("the archive does not open: ") + path);

    const ZipEntry* index = archive.zip.find(QStringLiteral("entries.json"));
    FUZZ_CHECK(index, QStringLiteral("no entries.json in ") + archive.zip.names().join(u','));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(index->data, &error);
    FUZZ_CHECK(error.error == QJsonParseError::NoError && document.isObject(),
               QStringLiteral("entries.json is not a JSON object: ") + error.errorString());
    const QJsonObject root = document.object();
    FUZZ_CHECK(root.size() == 1 && root.value("entries"_L1).isArray(),
               QString::fromUtf8(index->data.left(200)));
    archive.entries = root.value("entries"_L1).toArray();

    QSet<QString> resources;
    for (const ZipEntry& entry : archive.zip.entries) {
        if (entry.name == "entries.json"_L1)
            continue;
        FUZZ_CHECK(entry.name.startsWith("resources/"_L1),
                   QStringLiteral("file outside resources: ") + entry.name);
        const QString file = entry.name.mid(10);
        FUZZ_CHECK(!file.isEmpty() && !file.contains(u'/') && !file.contains(u'\\') && file != ".."_L1 &&
                       file != "."_L1,
                   QStringLiteral("resource name is not a plain file name: ") + entry.name);
        FUZZ_CHECK(!resources.contains(file), QStringLiteral("resource stored twice: ") + entry.name);
        resources.insert(file);
    }

    QSet<QString> named;
    for (const QJsonValue& value : archive.entries) {
        FUZZ_CHECK(value.isObject(), QStringLiteral("an entry is not an object"));
        const QJsonObject entry = value.toObject();
        const QString kind = entry.value("kind"_L1).toString();
        FUZZ_CHECK(entry.value("state"_L1) == QJsonValue(0), QStringLiteral("state is not 0"));
        if (kind == "note"_L1) {
            ++archive.notes;
            continue;
        }
        FUZZ_CHECK(kind == "Image"_L1, QStringLiteral("unknown kind ") + kind);
        ++archive.images;
        const QString id = entry.value("binaryAttachmentId"_L1).toString();
        FUZZ_CHECK(resources.contains(id), QStringLiteral("image entry without its file: ") + id);
        named.insert(id);
        const ZipEntry* file = archive.zip.find(QStringLiteral("resources/") + id);
        FUZZ_CHECK(file && file->data.startsWith("\x89PNG\r\n\x1a\n"), QStringLiteral("not a PNG: ") + id);
        const QJsonDocument info = QJsonDocument::fromJson(entry.value("userInfo"_L1).toString().toUtf8());
        FUZZ_CHECK(info.isObject() && info.object().value("width"_L1).toDouble() > 0 &&
                       info.object().value("height"_L1).toDouble() > 0,
                   QStringLiteral("userInfo without a size: ") + entry.value("userInfo"_L1).toString());
    }
    if (archive.images == 0) {
        const ZipEntry* placeholder = archive.zip.find(QStringLiteral("resources/.DS_Store"));
        FUZZ_CHECK(placeholder && placeholder->data.isEmpty() && resources.size() == 1,
                   QStringLiteral("an archive without images holds ") + archive.zip.names().join(u','));
    } else {
        FUZZ_CHECK(resources.size() == qsizetype(named.size()),
                   QStringLiteral("files without entries: ") + archive.zip.names().join(u','));
    }
    return archive;
}

QString withPairedSurrogates(QString text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            text[i] = QChar(0xFFFD);
    }
    return text;
}

} // namespace NCFuzz
