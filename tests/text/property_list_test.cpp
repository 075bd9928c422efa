// Property lists come from outside, so every shape that once crashed or exhausted libplist is a
// row here. A string or dictionary key holding a NUL byte aborted the process inside libplist (an
// assertion in plist_get_string_val / plist_get_key_val), found by fuzz/style_plist; the fuzzer's
// inputs are kept in fuzz/crashes/style_plist/.
#include "TestSupport.h"
#include "text/ZNFPropertyList.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

namespace {

// A binary property list of `links` arrays, each holding `refs` references to the next (the
// last to itself when `cycle`), the innermost holding true.
QByteArray binaryChain(int links, int refs, bool cycle = false) {
    auto be = [](quint64 v, int width) {
        QByteArray out(width, '\0');
        for (int i = width - 1; i >= 0; --i, v >>= 8)
            out[i] = char(v & 0xff);
        return out;
    };
    QByteArray bytes("bplist00"), table;
    for (int i = 0; i < links; ++i) {
        table += be(quint64(bytes.size()), 4);
        bytes += char(0xa0 | refs);
        for (int r = 0; r < refs; ++r)
            bytes += be(cycle && i == links - 1 ? quint64(i) : quint64(i + 1), 4);
    }
    table += be(quint64(bytes.size()), 4);
    bytes += char(0x09);
    const quint64 tableOffset = quint64(bytes.size());
    bytes += table + QByteArray(6, '\0') + char(4) + char(4) + be(quint64(links + 1), 8) + be(0, 8) +
             be(tableOffset, 8);
    return bytes;
}

QByteArray xml(const QByteArray& body, qsizetype padding = 0) {
    return "<?xml version=\"1.0\"?><plist version=\"1.0\">" + QByteArray(padding, ' ') + body + "</plist>";
}

QByteArray nestedXml(int depth, qsizetype padding = 0) {
    return xml(QByteArray("<array>").repeated(depth) + "<true/>" + QByteArray("</array>").repeated(depth),
               padding);
}

QByteArray crashInput(const char* name) {
    return readFile(QStringLiteral(NOTECRATE_SOURCE_DIR "/fuzz/crashes/style_plist/") + QLatin1String(name));
}

} // namespace

TEST(PropertyList, EveryTruncationOfAValidListIsSafe) {
    // {"tabs": [1, 2.5]} in the binary format.
    const QByteArray good =
        QByteArray::fromHex("62706c6973743030d101025474616273a203041001234004000000000000080b1013150000"
                            "00000000010100000000000000050000000000000000000000000000001e");
    QString error;
    EXPECT_EQ(ZNFPropertyListFromData(good, &error).toMap().value("tabs").toList(),
              (QVariantList{qint64(1), 2.5}))
        << error.toStdString();
    for (qsizetype n = 0; n < good.size(); ++n)
        ZNFPropertyListFromData(good.left(n));
    EXPECT_FALSE(ZNFPropertyListFromData(QByteArray()).isValid());
}

TEST(PropertyList, HostileShapesAreRefusedWithAReason) {
    // Shapes that make libplist recurse past the stack, copy shared arrays without end or abort
    // on a NUL are refused before it reads them; the largest allowed ones read.
    const struct {
        const char* what;
        QByteArray bytes;
        bool readable;
        const char* reason = "";
    } shapes[] = {
        // clang-format off
        {"XML, 256 levels", nestedXml(256), true}, {"XML, 257 levels", nestedXml(257), false},
        {"XML, 30,000 levels", nestedXml(30000), false}, {"XML over 8 MiB", nestedXml(1, 8 * 1024 * 1024), false},
        {"binary, 256 levels", binaryChain(256, 1), true}, {"binary, 100,000 levels", binaryChain(100000, 1), false},
        {"binary, 2^60 values from 60 shared arrays", binaryChain(60, 2), false},
        {"binary, 2^15 values from 15 shared arrays", binaryChain(15, 2), true},
        {"binary, a cycle", binaryChain(3, 1, true), false},
        {"binary, 2^18 values from shared arrays", crashInput("shared_arrays_written_out_as_xml.plist"), true},
        {"NUL in a UTF-16 key of a binary list", QByteArray::fromHex("62706c6973743030d10102620061000009080b10000000000000"
            "0101000000000000000300000000000000000000000000000011"), false, "NUL"},
        // clang-format on
        {"NUL in a string in an array", xml("<array><string>a" + QByteArray(1, '\0') + "b</string></array>"),
         false, "NUL"},
        {"NUL in a style value", crashInput("nul_byte_in_style_string.plist"), false, "NUL"},
        {"NUL in a key in an array", crashInput("nul_byte_in_array_string.plist"), false, "NUL"},
        {"NUL in a key of a binary list", crashInput("nul_byte_in_binary_key.plist"), false, "NUL"},
    };
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape.what);
        EXPECT_FALSE(shape.bytes.isEmpty());
        QString reason;
        EXPECT_EQ(ZNFPropertyListFromData(shape.bytes, &reason).isValid(), shape.readable);
        EXPECT_EQ(reason.isEmpty(), shape.readable);
        EXPECT_TRUE(reason.contains(QLatin1String(shape.reason))) << reason.toStdString();
    }
}
