#include "text/ZNFPropertyList.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <plist/plist.h>

namespace {

// Deeper nesting than any style table needs; guards the recursion against hostile files.
constexpr int kMaxDepth = 256;

QVariant convert(plist_t node, int depth, bool& ok) {
    if (!node || depth > kMaxDepth) {
        ok = false;
        return {};
    }
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t v = 0;
        plist_get_bool_val(node, &v);
        return QVariant(v != 0);
    }
    case PLIST_UINT: {
        // This libplist keeps negative integers as their two's complement.
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        return QVariant(static_cast<qint64>(v));
    }
    case PLIST_REAL: {
        double v = 0;
        plist_get_real_val(node, &v);
        return QVariant(v);
    }
    case PLIST_STRING: {
        char* s = nullptr;
        plist_get_string_val(node, &s);
        const QString str = QString::fromUtf8(s ? s : "");
        std::free(s);
        return QVariant(str);
    }
    case PLIST_KEY: {
        char* s = nullptr;
        plist_get_key_val(node, &s);
        const QString str = QString::fromUtf8(s ? s : "");
        std::free(s);
        return QVariant(str);
    }
    case PLIST_DATA: {
        char* d = nullptr;
        uint64_t len = 0;
        plist_get_data_val(node, &d, &len);
        const QByteArray bytes(d ? d : "", d ? static_cast<qsizetype>(len) : 0);
        std::free(d);
        return QVariant(bytes);
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        // Property-list dates count from 2001-01-01 00:00:00 UTC.
        const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
        return QVariant(reference.addMSecs(static_cast<qint64>(sec) * 1000 + usec / 1000));
    }
    case PLIST_UID: {
        uint64_t v = 0;
        plist_get_uid_val(node, &v);
        return QVariant(static_cast<qulonglong>(v));
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t n = plist_array_get_size(node);
        list.reserve(n);
        for (uint32_t i = 0; i < n && ok; ++i)
            list.append(convert(plist_array_get_item(node, i), depth + 1, ok));
        return QVariant(list);
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        while (it && ok) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!key)
                break;
            map.insert(QString::fromUtf8(key), convert(value, depth + 1, ok));
            std::free(key);
        }
        std::free(it);
        return QVariant(map);
    }
    default:
        ok = false;
        return {};
    }
}

// libplist 2.2 asserts (and so aborts the process) when it hands out a string or dictionary key
// that holds a NUL byte. Its XML writer copies such strings whole, so a NUL in the XML form finds
// them before anything reads them.
bool holdsStringWithNul(plist_t root) {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    const bool found = xml && std::memchr(xml, 0, length) != nullptr;
    plist_to_xml_free(xml);
    return found;
}

} // namespace

QVariant ZNFPropertyListFromData(const QByteArray& data, QString* error) {
    auto fail = [&](const QString& reason) {
        if (error)
            *error = reason;
        return QVariant();
    };
    if (data.isEmpty())
        return fail(QStringLiteral("empty property list"));
    if (data.size() > static_cast<qsizetype>(std::numeric_limits<uint32_t>::max()))
        return fail(QStringLiteral("property list too large"));
    plist_t root = nullptr;
    plist_from_memory(data.constData(), static_cast<uint32_t>(data.size()), &root);
    if (!root)
        return fail(QStringLiteral("not a property list"));
    if (holdsStringWithNul(root)) {
        plist_free(root);
        return fail(QStringLiteral("property list holds a string with a NUL byte"));
    }
    bool ok = true;
    QVariant value = convert(root, 0, ok);
    plist_free(root);
    if (!ok)
        return fail(QStringLiteral("property list holds an unsupported or too deeply nested value"));
    return value;
}

QVariant ZNFPropertyListFromFile(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return {};
    }
    return ZNFPropertyListFromData(file.readAll(), error);
}
