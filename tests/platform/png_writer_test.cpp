#include "platform/ZNFImage.h"
#include "platform/ZNFPNGWriter.h"

#include <QColorSpace>
#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

// Noise over a gradient, so that every row filter gets chosen somewhere.
QImage pattern(int width, int height, QImage::Format format, bool alpha) {
    QImage image(width, height, QImage::Format_ARGB32);
    QRandomGenerator rng(uint(width * 131 + height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int noise = int(rng.bounded(24));
            image.setPixel(x, y,
                           qRgba((x * 7 + noise) & 0xff, (y * 5 + noise) & 0xff, (x * y + noise * 3) & 0xff,
                                 alpha ? int(rng.bounded(256)) : 255));
        }
    return image.convertToFormat(format);
}

// What Qt reads back, as straight (not premultiplied) 8-bit RGBA, or 16-bit for deep formats.
QImage comparable(const QImage& image) {
    return image.convertToFormat(image.depth() > 32 ? QImage::Format_RGBA64 : QImage::Format_ARGB32);
}

} // namespace

TEST(PNGWriter, QtReadsBackEveryPixel) {
    const struct {
        const char* name;
        QImage image;
        bool covered;
    } rows[] = {
        {"1x1 RGB", pattern(1, 1, QImage::Format_RGB32, false), true},
        {"1x1 RGBA", pattern(1, 1, QImage::Format_ARGB32, true), true},
        {"odd width RGB", pattern(37, 11, QImage::Format_RGB32, false), true},
        {"odd width RGBA", pattern(13, 7, QImage::Format_ARGB32, true), true},
        {"premultiplied alpha", pattern(9, 9, QImage::Format_ARGB32_Premultiplied, true), true},
        {"packed RGB", pattern(33, 17, QImage::Format_RGB888, false), true},
        {"RGBA bytes", pattern(5, 3, QImage::Format_RGBA8888, true), true},
        {"RGBA bytes premultiplied", pattern(6, 4, QImage::Format_RGBA8888_Premultiplied, true), true},
        {"RGBX bytes", pattern(7, 2, QImage::Format_RGBX8888, false), true},
        {"grey", pattern(21, 4, QImage::Format_Grayscale8, false), true},
        {"16-bit colour goes to Qt's writer", pattern(8, 8, QImage::Format_RGB16, false), true},
        {"16-bit channels go to Qt's writer", pattern(10, 3, QImage::Format_RGBA64, true), false},
        {"palette goes to Qt's writer", pattern(4, 4, QImage::Format_Indexed8, false), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ZNFPNGWriter::covers(row.image), row.covered);
        QByteArray png;
        EXPECT_EQ(ZNFPNGWriter::encode(row.image, png), row.covered);
        if (!row.covered)
            png = ZNFImage::encodePNG(row.image);
        const QImage back = QImage::fromData(png, "PNG");
        EXPECT_EQ(back.size(), row.image.size());
        if (back.size() == row.image.size()) {
            EXPECT_EQ(comparable(back), comparable(row.image));
        }
    }
}

TEST(PNGWriter, KeepsResolutionAndColourSpace) {
    QImage image = pattern(16, 16, QImage::Format_RGB32, false);
    image.setDotsPerMeterX(5669); // 144 dpi
    image.setDotsPerMeterY(2835);
    image.setColorSpace(QColorSpace::DisplayP3);
    QByteArray png;
    ASSERT_TRUE(ZNFPNGWriter::encode(image, png));
    const QImage back = QImage::fromData(png, "PNG");
    EXPECT_EQ(std::tuple(back.dotsPerMeterX(), back.dotsPerMeterY(), back.colorSpace()),
              std::tuple(5669, 2835, QColorSpace(QColorSpace::DisplayP3)));
}
