#include "platform/ZNFPNGWriter.h"

#include <QColorSpace>
#include <QtEndian>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <libdeflate.h>
#include <limits>
#include <vector>

namespace ZNFPNGWriter {

namespace {

// The level Pillow and libpng use by default: a good size for the time it takes.
constexpr int kCompressionLevel = 6;
// A PNG chunk's length is a signed 32-bit number.
constexpr size_t kMaxChunkLength = 0x7FFFFFFF;

enum class Layout { Grey = 0, RGB = 2, RGBA = 6 };

int channels(Layout layout) {
    return layout == Layout::Grey ? 1 : layout == Layout::RGB ? 3 : 4;
}

struct ThreadBuffers {
    libdeflate_compressor* compressor = nullptr;
    std::vector<uchar> filtered; // every row: its filter byte, then the filtered bytes
    std::vector<uchar> rows;     // two packed rows (previous, current) and five candidates
    ~ThreadBuffers() {
        if (compressor)
            libdeflate_free_compressor(compressor);
    }
};

ThreadBuffers& threadBuffers() {
    thread_local ThreadBuffers buffers;
    return buffers;
}

// Formats whose rows are packed here without converting the whole image first.
bool isDirect(QImage::Format format) {
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_RGB888:
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888:
    case QImage::Format_Grayscale8:
        return true;
    default:
        return false;
    }
}

// Formats of at most 8 bits a channel that convert to (A)RGB32 without loss. Premultiplied
// ones are unpremultiplied by Qt, so the pixels come out as Qt's own writer writes them.
bool isConvertible(QImage::Format format) {
    switch (format) {
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_RGB16:
    case QImage::Format_ARGB8565_Premultiplied:
    case QImage::Format_RGB666:
    case QImage::Format_ARGB6666_Premultiplied:
    case QImage::Format_RGB555:
    case QImage::Format_ARGB8555_Premultiplied:
    case QImage::Format_RGB444:
    case QImage::Format_ARGB4444_Premultiplied:
    case QImage::Format_BGR888:
    case QImage::Format_Alpha8:
    case QImage::Format_RGBA8888_Premultiplied:
        return true;
    default:
        return false;
    }
}

Layout layoutFor(QImage::Format format) {
    switch (format) {
    case QImage::Format_Grayscale8:
        return Layout::Grey;
    case QImage::Format_RGB32:
    case QImage::Format_RGB888:
    case QImage::Format_RGBX8888:
        return Layout::RGB;
    default:
        return Layout::RGBA;
    }
}

// The image's colour space as ICC bytes; empty for none or sRGB, which a PNG without colour
// chunks already means.
QByteArray iccProfileFor(const QImage& image) {
    const QColorSpace space = image.colorSpace();
    if (!space.isValid() || space == QColorSpace(QColorSpace::SRgb))
        return {};
    return space.iccProfile();
}

// One row of the image as the PNG stores it; rows already in that form are not copied.
const uchar* packRow(const QImage& image, int y, uchar* scratch) {
    const uchar* line = image.constScanLine(y);
    const int width = image.width();
    switch (image.format()) {
    case QImage::Format_RGB888:
    case QImage::Format_RGBA8888:
    case QImage::Format_Grayscale8:
        return line;
    case QImage::Format_RGBX8888:
        for (int x = 0; x < width; ++x)
            std::memcpy(scratch + 3 * x, line + 4 * x, 3);
        return scratch;
    case QImage::Format_RGB32: {
        const auto* pixels = reinterpret_cast<const QRgb*>(line);
        for (int x = 0; x < width; ++x) {
            uchar* out = scratch + 3 * x;
            out[0] = uchar(qRed(pixels[x])), out[1] = uchar(qGreen(pixels[x])),
            out[2] = uchar(qBlue(pixels[x]));
        }
        return scratch;
    }
    case QImage::Format_ARGB32: {
        const auto* pixels = reinterpret_cast<const QRgb*>(line);
        for (int x = 0; x < width; ++x) {
            const QRgb p = pixels[x];
            uchar* out = scratch + 4 * x;
            out[0] = uchar(qRed(p)), out[1] = uchar(qGreen(p)), out[2] = uchar(qBlue(p)),
            out[3] = uchar(qAlpha(p));
        }
        return scratch;
    }
    default:
        return nullptr;
    }
}

// The sum of the bytes read as signed values, absolute: the usual estimate of how well a
// filtered row will compress.
quint32 cost(const uchar* row, size_t n) {
    quint32 sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += quint32(row[i] < 128 ? row[i] : 256 - row[i]);
    return sum;
}

inline uchar paeth(int a, int b, int c) {
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc)
        return uchar(a);
    return uchar(pb <= pc ? b : c);
}

// Filters one row with each of the five filters and writes the cheapest to `out` (filter byte
// first). `candidates` holds room for four rows.
void filterRow(const uchar* cur, const uchar* prev, size_t n, size_t bpp, uchar* candidates, uchar* out) {
    uchar* sub = candidates;
    uchar* up = candidates + n;
    uchar* avg = candidates + 2 * n;
    uchar* pth = candidates + 3 * n;
    const size_t head = std::min(bpp, n);
    for (size_t i = 0; i < head; ++i) {
        sub[i] = cur[i];
        up[i] = uchar(cur[i] - prev[i]);
        avg[i] = uchar(cur[i] - (prev[i] >> 1));
        pth[i] = uchar(cur[i] - prev[i]); // Paeth with a and c zero picks b
    }
    for (size_t i = head; i < n; ++i) {
        sub[i] = uchar(cur[i] - cur[i - bpp]);
        up[i] = uchar(cur[i] - prev[i]);
        avg[i] = uchar(cur[i] - ((cur[i - bpp] + prev[i]) >> 1));
        pth[i] = uchar(cur[i] - paeth(cur[i - bpp], prev[i], prev[i - bpp]));
    }
    const uchar* rows[5] = {cur, sub, up, avg, pth};
    int best = 0;
    quint32 bestCost = cost(cur, n);
    for (int f = 1; f < 5; ++f) {
        const quint32 c = cost(rows[f], n);
        if (c < bestCost) {
            bestCost = c;
            best = f;
        }
    }
    out[0] = uchar(best);
    std::memcpy(out + 1, rows[best], n);
}

void put32(uchar* at, quint32 value) {
    qToBigEndian(value, at);
}

// Appends a whole chunk (length, type, data, CRC).
void appendChunk(QByteArray& out, const char type[4], const QByteArray& data) {
    uchar length[4];
    put32(length, quint32(data.size()));
    out.append(reinterpret_cast<const char*>(length), 4);
    const qsizetype start = out.size();
    out.append(type, 4);
    out.append(data);
    uchar crc[4];
    put32(crc, libdeflate_crc32(0, out.constData() + start, size_t(out.size() - start)));
    out.append(reinterpret_cast<const char*>(crc), 4);
}

QByteArray zlibCompress(libdeflate_compressor* compressor, const QByteArray& data) {
    QByteArray out(qsizetype(libdeflate_zlib_compress_bound(compressor, size_t(data.size()))),
                   Qt::Uninitialized);
    const size_t n = libdeflate_zlib_compress(compressor, data.constData(), size_t(data.size()), out.data(),
                                              size_t(out.size()));
    out.resize(qsizetype(n));
    return out;
}

} // namespace

bool covers(const QImage& image) {
    if (image.isNull())
        return false;
    if (!isDirect(image.format()) && !isConvertible(image.format()))
        return false;
    const QColorSpace space = image.colorSpace();
    return !space.isValid() || space == QColorSpace(QColorSpace::SRgb) || !space.iccProfile().isEmpty();
}

bool encode(const QImage& source, QByteArray& out) {
    out.resize(0);
    if (!covers(source))
        return false;
    QImage converted;
    if (!isDirect(source.format()))
        converted =
            source.convertToFormat(source.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    const QImage& image = converted.isNull() ? source : converted;
    if (image.isNull())
        return false;

    ThreadBuffers& buffers = threadBuffers();
    if (!buffers.compressor && !(buffers.compressor = libdeflate_alloc_compressor(kCompressionLevel)))
        return false;

    const Layout layout = layoutFor(image.format());
    const size_t bpp = size_t(channels(layout));
    const size_t width = size_t(image.width());
    const size_t height = size_t(image.height());
    const size_t rowBytes = width * bpp;
    const size_t filteredSize = height * (rowBytes + 1);
    // Grown when a larger picture comes, never shrunk: the next picture reuses the pages.
    if (buffers.filtered.size() < filteredSize)
        buffers.filtered.resize(filteredSize);
    if (buffers.rows.size() < rowBytes * 7)
        buffers.rows.resize(rowBytes * 7);
    uchar* packed[2] = {buffers.rows.data(), buffers.rows.data() + rowBytes};
    uchar* zero = buffers.rows.data() + 2 * rowBytes;
    uchar* candidates = buffers.rows.data() + 3 * rowBytes;
    std::memset(zero, 0, rowBytes);

    const uchar* previous = zero;
    for (size_t y = 0; y < height; ++y) {
        const uchar* current = packRow(image, int(y), packed[y & 1]);
        if (!current)
            return false;
        filterRow(current, previous, rowBytes, bpp, candidates, buffers.filtered.data() + y * (rowBytes + 1));
        previous = current;
    }

    QByteArray header("\x89PNG\r\n\x1a\n", 8);
    QByteArray ihdr(13, '\0');
    put32(reinterpret_cast<uchar*>(ihdr.data()), quint32(width));
    put32(reinterpret_cast<uchar*>(ihdr.data()) + 4, quint32(height));
    ihdr[8] = 8; // bits per channel
    ihdr[9] = char(layout);
    appendChunk(header, "IHDR", ihdr);
    const QByteArray icc = iccProfileFor(image);
    if (!icc.isEmpty())
        appendChunk(header, "iCCP",
                    QByteArray("ICC profile\0\0", 13) + zlibCompress(buffers.compressor, icc));
    if (image.dotsPerMeterX() > 0 && image.dotsPerMeterY() > 0) {
        QByteArray phys(9, '\0');
        put32(reinterpret_cast<uchar*>(phys.data()), quint32(image.dotsPerMeterX()));
        put32(reinterpret_cast<uchar*>(phys.data()) + 4, quint32(image.dotsPerMeterY()));
        phys[8] = 1; // the metre
        appendChunk(header, "pHYs", phys);
    }

    // The zlib stream goes straight into its IDAT chunk inside `out`.
    const size_t bound = libdeflate_zlib_compress_bound(buffers.compressor, filteredSize);
    const size_t total = size_t(header.size()) + 8 + bound + 4 + 12;
    if (total > size_t(std::numeric_limits<qsizetype>::max() / 2))
        return false;
    out.resize(qsizetype(total));
    auto* bytes = reinterpret_cast<uchar*>(out.data());
    std::memcpy(bytes, header.constData(), size_t(header.size()));
    uchar* idat = bytes + header.size();
    std::memcpy(idat + 4, "IDAT", 4);
    const size_t compressed =
        libdeflate_zlib_compress(buffers.compressor, buffers.filtered.data(), filteredSize, idat + 8, bound);
    if (compressed == 0 || compressed > kMaxChunkLength) {
        out.resize(0);
        return false;
    }
    put32(idat, quint32(compressed));
    put32(idat + 8 + compressed, libdeflate_crc32(0, idat + 4, compressed + 4));
    uchar* iend = idat + 8 + compressed + 4;
    put32(iend, 0);
    std::memcpy(iend + 4, "IEND", 4);
    put32(iend + 8, libdeflate_crc32(0, iend + 4, 4));
    out.resize(qsizetype(iend + 12 - bytes));
    return true;
}

} // namespace ZNFPNGWriter
