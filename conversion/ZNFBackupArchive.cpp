#include "conversion/ZNFBackupArchive.h"

#include "conversion/ZNFConversionLog.h"
#include "platform/ZNFFileWrite.h"
#include "platform/ZNFNumberFormat.h"
#include "platform/ZNFPaths.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonValue>
#include <QTimeZone>

#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unzip.h>
#include <zip.h>
#include <zlib.h>

namespace {

// The index's level: zlib's default, and what Pillow and zip use.
constexpr int kIndexLevel = 6;
// minizip and zlib take lengths as unsigned int.
constexpr qint64 kWriteChunk = 1 << 30;
// A body is escaped into the index this many UTF-16 units at a time, so that a long note is
// never held a second time whole.
constexpr qsizetype kBodySlice = 1 << 20;
// Deflated index bytes written to the spill file at a time, and copied from it.
constexpr qsizetype kSpillChunk = 256 * 1024;

// `text` escaped for the inside of a JSON string literal, in UTF-8. Unpaired surrogates become
// U+FFFD, as Qt's own writer makes them.
void appendJSONStringContent(QByteArray& out, QStringView text) {
    out.reserve(out.size() + text.size());
    // Bytes go into a small buffer through a pointer and reach `out` a buffer at a time: one
    // call into QByteArray per byte was most of the cost of writing a note.
    char buffer[4096];
    constexpr qsizetype kLongest = 6; // the most one UTF-16 unit (or a pair) becomes: a control escape
    char* w = buffer;
    auto flush = [&] {
        // Grown by resize(), which reallocates in place; append() would copy into a new block
        // and hold both, twice the index's buffer at once.
        const qsizetype at = out.size(), n = w - buffer;
        out.resize(at + n);
        std::memcpy(out.data() + at, buffer, size_t(n));
        w = buffer;
    };
    auto utf8 = [&w](char32_t c) {
        if (c < 0x800) {
            *w++ = char(0xC0 | (c >> 6));
            *w++ = char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *w++ = char(0xE0 | (c >> 12));
            *w++ = char(0x80 | ((c >> 6) & 0x3F));
            *w++ = char(0x80 | (c & 0x3F));
        } else {
            *w++ = char(0xF0 | (c >> 18));
            *w++ = char(0x80 | ((c >> 12) & 0x3F));
            *w++ = char(0x80 | ((c >> 6) & 0x3F));
            *w++ = char(0x80 | (c & 0x3F));
        }
    };
    auto escape = [&w](char c) {
        *w++ = '\\';
        *w++ = c;
    };
    const char16_t* p = text.utf16();
    const char16_t* end = p + text.size();
    for (; p < end; ++p) {
        if (w + kLongest > buffer + sizeof buffer)
            flush();
        const char16_t c = *p;
        if (c >= 0x20 && c < 0x80 && c != u'"' && c != u'\\') {
            *w++ = char(c);
            continue;
        }
        switch (c) {
        case u'"':
            escape('"');
            continue;
        case u'\\':
            escape('\\');
            continue;
        case u'\n':
            escape('n');
            continue;
        case u'\r':
            escape('r');
            continue;
        case u'\t':
            escape('t');
            continue;
        case u'\b':
            escape('b');
            continue;
        case u'\f':
            escape('f');
            continue;
        default:
            break;
        }
        if (c < 0x20) {
            static constexpr char kHex[] = "0123456789abcdef";
            for (const char e : {'\\', 'u', '0', '0'})
                *w++ = e;
            *w++ = kHex[c >> 4];
            *w++ = kHex[c & 0xF];
        } else if (QChar::isHighSurrogate(c) && p + 1 < end && QChar::isLowSurrogate(p[1])) {
            utf8(QChar::surrogateToUcs4(c, p[1]));
            ++p;
        } else if (QChar::isSurrogate(c)) {
            utf8(0xFFFD);
        } else {
            utf8(c);
        }
    }
    flush();
}

zipFile zipOf(void* zip) {
    return static_cast<zipFile>(zip);
}

} // namespace

// The index past the memory buffer: deflated as it grows into a file whose name is removed as
// soon as it is open, so nothing of it outlives the process.
struct ZNFBackupArchiveWriter::Spill {
    QFile file;
    z_stream stream{};
    bool deflating = false;
    uLong crc = 0;   // of the index itself
    qint64 size = 0; // its bytes before deflating
    QByteArray out = QByteArray(kSpillChunk, Qt::Uninitialized);

    ~Spill() {
        if (deflating)
            deflateEnd(&stream);
    }
};

ZNFBackupArchiveWriter::ZNFBackupArchiveWriter(const QString& archiveFileName)
    : m_date(QDateTime::currentDateTime()) {
    const QString caches = ZNFPaths::cachesDirectory();
    if (!QDir().mkpath(caches)) {
        fail(QStringLiteral("could not create the caches folder %1").arg(caches));
        return;
    }
    // The archive holds a person's notes, and homes are often readable by every user: the
    // folder and the file are the owner's alone. A copy saved elsewhere follows the umask.
    ::chmod(QFile::encodeName(caches).constData(), 0700);
    m_archivePath = ZNFBackupArchive::archivePath(archiveFileName);
    m_partialPath = ZNFTemporaryFiles::partialPathFor(m_archivePath);
    m_guard = std::make_unique<ZNFTemporaryFiles::Guard>(m_partialPath);
    // Made here with its mode, so that minizip's open keeps it and the file is never readable
    // by others, not even while it is empty.
    const int fd =
        ::open(QFile::encodeName(m_partialPath).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    m_zip = zipOpen64(QFile::encodeName(m_partialPath).constData(), APPEND_STATUS_CREATE);
    if (!m_zip)
        fail(QStringLiteral("could not create %1").arg(m_partialPath));
    m_index = "{\"" + QByteArray(ZNFBackupEntryKey_entries.data()) + "\":[";
}

ZNFBackupArchiveWriter::~ZNFBackupArchiveWriter() {
    if (!m_done)
        abort();
}

void ZNFBackupArchiveWriter::setDate(const QDateTime& date) {
    m_date = date;
}

bool ZNFBackupArchiveWriter::fail(const QString& what) {
    if (m_failure.isEmpty()) {
        m_failure = what;
        qCWarning(lcConversion()).noquote() << QStringLiteral("Backup archive: %1").arg(what);
    }
    return false;
}

bool ZNFBackupArchiveWriter::openMember(const QString& name, bool raw, int method, bool zip64) {
    zip_fileinfo info{};
    const QDate d = m_date.date();
    const QTime t = m_date.time();
    // DOS dates cannot hold years before 1980.
    info.tmz_date.tm_year = uInt(std::max(d.year(), 1980));
    info.tmz_date.tm_mon = uInt(d.month() - 1);
    info.tmz_date.tm_mday = uInt(d.day());
    info.tmz_date.tm_hour = uInt(t.hour());
    info.tmz_date.tm_min = uInt(t.minute());
    info.tmz_date.tm_sec = uInt(t.second());
    info.external_fa = 0100644UL << 16; // a regular file, rw-r--r--
    const QByteArray utf8 = name.toUtf8();
    // Made by Unix (3 << 8) so that readers honour the permission bits; UTF-8 names flagged.
    if (zipOpenNewFileInZip4_64(zipOf(m_zip), utf8.constData(), &info, nullptr, 0, nullptr, 0, nullptr,
                                method, method == 0 ? 0 : kIndexLevel, raw ? 1 : 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                Z_DEFAULT_STRATEGY, nullptr, 0, (3 << 8) | 20, 1 << 11,
                                zip64 ? 1 : 0) != ZIP_OK)
        return fail(QStringLiteral("could not add %1 to the archive").arg(name));
    return true;
}

bool ZNFBackupArchiveWriter::write(const char* data, qint64 size) {
    for (qint64 at = 0; at < size; at += kWriteChunk) {
        const unsigned n = unsigned(std::min(kWriteChunk, size - at));
        if (zipWriteInFileInZip(zipOf(m_zip), data + at, n) != ZIP_OK)
            return fail(QStringLiteral("could not write to %1").arg(m_partialPath));
    }
    return true;
}

bool ZNFBackupArchiveWriter::addResource(const QString& name, const QByteArray& bytes) {
    if (!isOK() || m_done)
        return false;
    const QString member = ZNFBackupArchive_resourcesFolderName + u'/' + name;
    const uLong crc = libdeflate_crc32(0, bytes.constData(), size_t(bytes.size()));
    if (!openMember(member, true, 0, bytes.size() >= 0xFFFFFFFFLL) || !write(bytes.constData(), bytes.size()))
        return false;
    if (zipCloseFileInZipRaw64(zipOf(m_zip), ZPOS64_T(bytes.size()), crc) != ZIP_OK)
        return fail(QStringLiteral("could not finish %1").arg(member));
    ++m_resources;
    return true;
}

bool ZNFBackupArchiveWriter::addPlaceholder() {
    // ".DS_Store" stands in for the empty "resources" folder.
    const QString placeholder =
        ZNFBackupArchive_resourcesFolderName + u'/' + ZNFBackupArchive_placeholderFileName;
    if (!openMember(placeholder, true, 0, false) || zipCloseFileInZipRaw64(zipOf(m_zip), 0, 0) != ZIP_OK)
        return fail(QStringLiteral("could not add the placeholder"));
    return true;
}

bool ZNFBackupArchiveWriter::beginEntry() {
    if (!isOK() || m_done)
        return false;
    if (m_entries > 0)
        m_index += ',';
    ++m_entries;
    return true;
}

bool ZNFBackupArchiveWriter::endEntry() {
    return m_index.size() < ZNFBackupArchive_indexBufferBytes || spillIndex(false);
}

bool ZNFBackupArchiveWriter::addEntry(const QJsonObject& entry) {
    if (!beginEntry())
        return false;
    m_index += QJsonDocument(entry).toJson(QJsonDocument::Compact);
    return endEntry();
}

bool ZNFBackupArchiveWriter::addEntry(const QJsonObject& entry, const QString& body) {
    if (!beginEntry())
        return false;
    QByteArray json = QJsonDocument(entry).toJson(QJsonDocument::Compact);
    json.chop(1); // the closing brace
    m_index += json;
    if (!entry.isEmpty())
        m_index += ',';
    m_index += "\"";
    m_index += ZNFBackupEntryKey_body;
    m_index += "\":\"";
    for (QStringView rest(body); !rest.isEmpty();) {
        qsizetype n = std::min(rest.size(), kBodySlice);
        if (n < rest.size() && QChar::isHighSurrogate(rest[n - 1].unicode()))
            --n; // a surrogate pair stays in one slice
        appendJSONStringContent(m_index, rest.first(n));
        rest = rest.sliced(n);
        if (m_index.size() >= ZNFBackupArchive_indexBufferBytes && !spillIndex(false))
            return false;
    }
    m_index += "\"}";
    return endEntry();
}

bool ZNFBackupArchiveWriter::spillIndex(bool last) {
    if (!m_spill) {
        auto spill = std::make_unique<Spill>();
        const QString path = ZNFTemporaryFiles::partialPathFor(m_archivePath);
        spill->file.setFileName(path);
        if (!spill->file.open(QIODevice::ReadWrite | QIODevice::NewOnly))
            return fail(QStringLiteral("could not create %1").arg(path));
        spill->file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        ::unlink(QFile::encodeName(path).constData());
        // zlib's raw deflate at the level and window minizip itself would use.
        if (deflateInit2(&spill->stream, kIndexLevel, Z_DEFLATED, -MAX_WBITS, DEF_MEM_LEVEL,
                         Z_DEFAULT_STRATEGY) != Z_OK)
            return fail(QStringLiteral("out of memory"));
        spill->deflating = true;
        m_spill = std::move(spill);
    }
    Spill& spill = *m_spill;
    spill.crc = libdeflate_crc32(spill.crc, m_index.constData(), size_t(m_index.size()));
    spill.size += m_index.size();
    const char* data = m_index.constData();
    qint64 left = m_index.size();
    do {
        const uInt n = uInt(std::min(left, kWriteChunk));
        spill.stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        spill.stream.avail_in = n;
        data += n;
        left -= n;
        const int flush = last && left == 0 ? Z_FINISH : Z_NO_FLUSH;
        int status;
        do {
            spill.stream.next_out = reinterpret_cast<Bytef*>(spill.out.data());
            spill.stream.avail_out = uInt(spill.out.size());
            status = deflate(&spill.stream, flush);
            if (status == Z_STREAM_ERROR)
                return fail(QStringLiteral("could not deflate the index"));
            const qint64 produced = spill.out.size() - spill.stream.avail_out;
            if (spill.file.write(spill.out.constData(), produced) != produced)
                return fail(QStringLiteral("could not write the index: %1").arg(spill.file.errorString()));
        } while (spill.stream.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    } while (left > 0);
    // Emptied, not freed: the buffer is reused for the next entries.
    m_index.resize(0);
    return true;
}

bool ZNFBackupArchiveWriter::writeIndex() {
    const QString name = ZNFBackupArchive_entriesFileName;
    if (!m_spill) {
        // Small enough to deflate in one go, several times faster than zlib.
        libdeflate_compressor* compressor = libdeflate_alloc_compressor(kIndexLevel);
        if (!compressor)
            return fail(QStringLiteral("out of memory"));
        QByteArray deflated(qsizetype(libdeflate_deflate_compress_bound(compressor, size_t(m_index.size()))),
                            Qt::Uninitialized);
        const size_t n = libdeflate_deflate_compress(compressor, m_index.constData(), size_t(m_index.size()),
                                                     deflated.data(), size_t(deflated.size()));
        libdeflate_free_compressor(compressor);
        const uLong crc = libdeflate_crc32(0, m_index.constData(), size_t(m_index.size()));
        const bool ok = n > 0 && openMember(name, true, Z_DEFLATED, false) &&
                        write(deflated.constData(), qint64(n)) &&
                        zipCloseFileInZipRaw64(zipOf(m_zip), ZPOS64_T(m_index.size()), crc) == ZIP_OK;
        m_index.clear();
        return ok || fail(QStringLiteral("could not write the index"));
    }
    if (!spillIndex(true) || !openMember(name, true, Z_DEFLATED, true))
        return false;
    Spill& spill = *m_spill;
    if (!spill.file.seek(0))
        return fail(QStringLiteral("could not read the index back"));
    qint64 n;
    while ((n = spill.file.read(spill.out.data(), spill.out.size())) > 0)
        if (!write(spill.out.constData(), n))
            return false;
    if (n < 0 || zipCloseFileInZipRaw64(zipOf(m_zip), ZPOS64_T(spill.size), spill.crc) != ZIP_OK)
        return fail(QStringLiteral("could not write the index"));
    m_spill.reset();
    return true;
}

QString ZNFBackupArchiveWriter::commit() {
    if (m_done)
        return {};
    if (isOK() && m_resources == 0)
        addPlaceholder();
    if (isOK()) {
        m_index += "]}";
        writeIndex();
    }
    m_spill.reset();
    if (zipClose(zipOf(m_zip), nullptr) != ZIP_OK)
        fail(QStringLiteral("could not close %1").arg(m_partialPath));
    m_zip = nullptr;
    m_done = true;
    QString why;
    if (isOK() &&
        !ZNFFileWrite::moveIntoPlace(m_partialPath, m_archivePath, ZNFFileWrite::Existing::Replace, &why))
        fail(QStringLiteral("could not write the archive %1: %2").arg(m_archivePath, why));
    if (!isOK()) {
        QFile::remove(m_partialPath);
        m_guard.reset();
        return {};
    }
    m_guard.reset();
    return m_archivePath;
}

void ZNFBackupArchiveWriter::abort() {
    m_spill.reset();
    if (m_zip)
        zipClose(zipOf(m_zip), nullptr);
    m_zip = nullptr;
    m_done = true;
    if (!m_partialPath.isEmpty())
        QFile::remove(m_partialPath);
    m_guard.reset();
}

namespace ZNFBackupArchive {

QString archivePath(const QString& fileName) {
    return QDir(ZNFPaths::cachesDirectory()).filePath(fileName);
}

void removeFolder(const QString& folder) {
    if (!folder.isEmpty())
        QDir(folder).removeRecursively();
}

QString userInfoForSize(const QSizeF& size) {
    return QStringLiteral("{\"width\":%1,\"height\":%2}")
        .arg(ZNFShortestNumber(size.width()), ZNFShortestNumber(size.height()));
}

} // namespace ZNFBackupArchive

namespace {

using namespace Qt::StringLiterals;

// The index member as a device: inflated as it is read, refused once it grows past the limits
// or the time, so that a lying header or a bomb costs neither memory nor minutes.
class IndexMemberDevice : public QIODevice {
public:
    IndexMemberDevice(unzFile zip, qint64 compressed, const ZNFBackupArchiveLimits& limits)
        : m_zip(zip), m_deadline(std::chrono::seconds(std::max(0, limits.seconds))) {
        m_limit = std::min(limits.indexBytes, std::max<qint64>(0, compressed) * limits.inflationRatio +
                                                  ZNFBackupArchiveReader_inflationAllowanceBytes);
        m_bomb = m_limit < limits.indexBytes;
        m_indexBytes = limits.indexBytes;
        m_seconds = limits.seconds;
    }
    bool isSequential() const override { return true; }
    QString failure() const { return m_failure; }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        if (!m_failure.isEmpty())
            return -1;
        if (m_deadline.hasExpired())
            return refuse(QStringLiteral("reading entries.json took longer than %1 s").arg(m_seconds));
        const int n = unzReadCurrentFile(m_zip, data, unsigned(std::min<qint64>(maxSize, 1 << 20)));
        if (n < 0)
            return refuse(QStringLiteral("entries.json is damaged (zip error %1)").arg(n));
        m_read += n;
        if (m_read > m_limit)
            return refuse(m_bomb ? QStringLiteral("entries.json inflates to more than %1 times its size: "
                                                  "a zip bomb")
                                       .arg(ZNFBackupArchiveReader_maxInflationRatio)
                                 : QStringLiteral("entries.json is larger than %1 bytes").arg(m_indexBytes));
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    qint64 refuse(const QString& why) {
        m_failure = why;
        setErrorString(why);
        return -1;
    }

    unzFile m_zip;
    QDeadlineTimer m_deadline;
    qint64 m_limit = 0;
    qint64 m_indexBytes = 0;
    int m_seconds = 0;
    bool m_bomb = false;
    qint64 m_read = 0;
    QString m_failure;
};

bool isJSONBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Reads `{"entries":` up to the array; the writer puts the one key first, and so must anyone
// whose archive is listed. The reason when it is not there; empty when it is.
QString readIndexOpening(QIODevice& device) {
    char c = 0;
    bool ended = false;
    auto next = [&] {
        while (device.getChar(&c))
            if (!isJSONBlank(c))
                return true;
        ended = true;
        return false;
    };
    if (device.peek(3) == "\xEF\xBB\xBF")
        device.skip(3);
    bool ok = next() && c == '{' && next() && c == '"';
    const QByteArray key = QByteArray(ZNFBackupEntryKey_entries.data()) + '"';
    for (qsizetype i = 0; ok && i < key.size(); ++i) {
        ok = device.getChar(&c) && c == key[i];
        ended = ended || (!ok && device.atEnd());
    }
    ok = ok && next() && c == ':';
    if (ok)
        return {};
    return ended ? QStringLiteral("entries.json is damaged: it ends before its entries")
                 : QStringLiteral("entries.json does not begin with {\"entries\":");
}

// A date of the index: an epoch number, or the text the Notes app's export gave.
bool readDate(const QJsonValue& value, std::optional<QDateTime>& date) {
    if (value.isUndefined() || value.isNull())
        return true;
    if (value.isDouble()) {
        const double ms = value.toDouble();
        // Years 1 to 9999, as QDateTime holds them.
        if (std::isfinite(ms) && std::abs(ms) < 2.5e14)
            date = QDateTime::fromMSecsSinceEpoch(qint64(ms), Qt::UTC);
        return true;
    }
    if (value.isString()) {
        const QDateTime parsed = QDateTime::fromString(value.toString(), Qt::ISODate);
        if (parsed.isValid())
            date = parsed;
        return true;
    }
    return false;
}

} // namespace

namespace ZNFBackupArchiveReader {

QString firstLine(const QString& body) {
    for (qsizetype at = 0; at < body.size();) {
        qsizetype end = at;
        while (end < body.size() && body[end] != u'\n' && body[end] != u'\r' && body[end] != QChar(0x2028))
            ++end;
        QString line =
            body.mid(at, std::min<qsizetype>(end - at, 4 * ZNFBackupArchiveReader_maxFirstLineLength))
                .simplified();
        if (!line.isEmpty()) {
            if (line.size() > ZNFBackupArchiveReader_maxFirstLineLength) {
                qsizetype cut = ZNFBackupArchiveReader_maxFirstLineLength;
                if (line[cut - 1].isHighSurrogate())
                    --cut;
                line = line.left(cut) + u'…';
            }
            return line;
        }
        at = end + 1;
    }
    return {};
}

ZNFBackupListing read(const QString& path, const ZNFBackupArchiveLimits& limits) {
    ZNFBackupListing listing;
    auto failed = [&](const QString& why) {
        listing = ZNFBackupListing();
        listing.failure = why; // said by the caller, the command line on its own stderr
        return listing;
    };
    unzFile zip = unzOpen64(QFile::encodeName(path).constData());
    if (!zip)
        return failed(QFileInfo::exists(path) ? QStringLiteral("it is not a zip archive")
                                              : QStringLiteral("there is no such file"));
    const std::unique_ptr<void, int (*)(unzFile)> closer(zip, unzClose);
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(zip, &global) != UNZ_OK)
        return failed(QStringLiteral("it is not a zip archive"));
    if (qint64(global.number_entry) > limits.members)
        return failed(QStringLiteral("it holds more than %1 files").arg(limits.members));
    if (unzLocateFile(zip, ZNFBackupArchive_entriesFileName.data(), 1) != UNZ_OK)
        return failed(QStringLiteral("it holds no entries.json"));
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return failed(QStringLiteral("its entries.json cannot be read"));
    if (qint64(info.uncompressed_size) > limits.indexBytes || qint64(info.uncompressed_size) < 0)
        return failed(QStringLiteral("entries.json is larger than %1 bytes").arg(limits.indexBytes));
    if (info.compression_method != 0 && info.compression_method != Z_DEFLATED)
        return failed(QStringLiteral("entries.json is compressed with method %1, which cannot be read")
                          .arg(info.compression_method));
    if (unzOpenCurrentFile(zip) != UNZ_OK)
        return failed(QStringLiteral("its entries.json cannot be read"));

    IndexMemberDevice device(zip, qint64(info.compressed_size), limits);
    device.open(QIODevice::ReadOnly);
    if (const QString opening = readIndexOpening(device); !opening.isEmpty()) {
        unzCloseCurrentFile(zip);
        return failed(device.failure().isEmpty() ? opening : device.failure());
    }

    QHash<QString, qint64> picturesByNote;
    QString entryFailure;
    qint64 index = 0;
    const auto take = [&](QJsonValue element, std::optional<QString> body) {
        const qint64 at = index++;
        if (at >= limits.entries) {
            entryFailure = QStringLiteral("it holds more than %1 entries").arg(limits.entries);
            return false;
        }
        if (!element.isObject()) {
            entryFailure = QStringLiteral("entry %1 is not an object").arg(at);
            return false;
        }
        const QJsonObject entry = element.toObject();
        const QJsonValue kind = entry.value(ZNFBackupEntryKey_kind);
        const auto wrongType = [&](QLatin1StringView key, const char* type) {
            entryFailure =
                QStringLiteral("entry %1: \"%2\" is not %3").arg(at).arg(key, QLatin1StringView(type));
            return false;
        };
        if (!kind.isString())
            return wrongType(ZNFBackupEntryKey_kind, "a string");
        const QJsonValue identifier = entry.value(ZNFBackupEntryKey_identifier);
        if (!identifier.isUndefined() && !identifier.isString())
            return wrongType(ZNFBackupEntryKey_identifier, "a string");
        if (kind.toString() == ZNFBackupEntryKind_image) {
            const QJsonValue parent = entry.value(ZNFBackupEntryKey_parentId);
            if (!parent.isUndefined() && !parent.isString())
                return wrongType(ZNFBackupEntryKey_parentId, "a string");
            ++listing.pictures;
            if (parent.isString())
                ++picturesByNote[parent.toString()];
            return true;
        }
        if (kind.toString() != ZNFBackupEntryKind_note)
            return true; // a kind of a later version: not a note, nothing to list
        if (!body && entry.contains(ZNFBackupEntryKey_body))
            return wrongType(ZNFBackupEntryKey_body, "a string");
        ZNFBackupNote note;
        note.identifier = identifier.toString();
        note.firstLine = body ? firstLine(*body) : QString();
        body.reset();
        if (!readDate(entry.value(ZNFBackupEntryKey_updatedDate), note.modified))
            return wrongType(ZNFBackupEntryKey_updatedDate, "a date");
        if (!note.modified && !readDate(entry.value(ZNFBackupEntryKey_date), note.modified))
            return wrongType(ZNFBackupEntryKey_date, "a date");
        listing.notes.push_back(std::move(note));
        return true;
    };
    ZNFJSONArrayLimits arrayLimits;
    arrayLimits.elementBytes = limits.entryBytes;
    arrayLimits.elementTooLarge = [&](qint64) { ++listing.unlistedEntries; };
    QString error;
    const bool read = ZNFJSONArrayReader::read(device, take, &error, arrayLimits,
                                               QByteArray(ZNFBackupEntryKey_body.data()), '}');
    if (!device.failure().isEmpty()) {
        unzCloseCurrentFile(zip);
        return failed(device.failure());
    }
    if (!entryFailure.isEmpty()) {
        unzCloseCurrentFile(zip);
        return failed(entryFailure);
    }
    if (!read) {
        unzCloseCurrentFile(zip);
        return failed(QStringLiteral("entries.json is %1").arg(error));
    }
    if (unzCloseCurrentFile(zip) != UNZ_OK)
        return failed(QStringLiteral("entries.json is damaged: its checksum does not match"));
    for (ZNFBackupNote& note : listing.notes)
        note.pictures = picturesByNote.value(note.identifier);
    return listing;
}

} // namespace ZNFBackupArchiveReader
