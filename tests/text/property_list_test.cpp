// A property-list string or dictionary key holding a NUL byte once aborted the process inside
// libplist (an assertion in plist_get_string_val / plist_get_key_val), found by
// fuzz/style_plist. Such a list is now refused with a reason; the fuzzer's inputs are kept in
// fuzz/crashes/style_plist/.
#include "TestSupport.h"
#include "text/ZNFPropertyList.h"
#include "text/ZNFTextFormatter.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QByteArray xmlWithNul(const char* before, const char* after) {
    return QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\">") + before + QByteArray(1, '\0') +
           after + "</plist>";
}

QByteArray crashInput(const char* name) {
    return readFile(QStringLiteral(NOTECRATE_SOURCE_DIR "/fuzz/crashes/style_plist/") + QLatin1String(name));
}

} // namespace

TEST(RegressionPlistStringWithNul, RefusedWithAReasonInsteadOfAborting) {
    struct Case {
        const char* what;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"string in an array", xmlWithNul("<array><string>a", "b</string></array>")},
        {"style value", crashInput("nul_byte_in_style_string.plist")},
        {"key in an array", crashInput("nul_byte_in_array_string.plist")},
        {"dictionary key of a binary list", crashInput("nul_byte_in_binary_key.plist")},
    };
    for (const Case& c : cases) {
        ASSERT_FALSE(c.bytes.isEmpty()) << c.what;
        QString error;
        EXPECT_FALSE(ZNFPropertyListFromData(c.bytes, &error).isValid()) << c.what;
        EXPECT_TRUE(error.contains(QLatin1String("NUL"))) << c.what << ": " << error.toStdString();
    }
}

TEST(RegressionPlistStringWithNul, StyleFileWithNulKeepsTheFormatterAsItWas) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("styles.plist"));
    ASSERT_TRUE(writeFile(path, crashInput("nul_byte_in_binary_key.plist")));

    ZNFTextFormatter formatter;
    QString error;
    EXPECT_FALSE(formatter.registerKeyedAttributesFromFile(path, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(formatter.internalAttributes().isEmpty());
}
