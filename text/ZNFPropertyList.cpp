#include "text/ZNFPropertyList.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <plist/plist.h>
#include <vector>

namespace {

// Deeper nesting than any style table needs. libplist's binary reader, its XML writer and its
// plist_free all recurse once per level, so the depth is checked on the bytes, without
// recursion, before libplist sees them.
constexpr int kMaxDepth = 256;
// Far more than any style table needs; a bound on what a hostile file can make us hold.
constexpr qsizetype kMaxSize = 8 * 1024 * 1024;
// Values one list may expand to (binary lists can reference an object many times).
constexpr std::uint64_t kMaxNodes = 1'000'000;

// The nesting of "array" and "dict" elements of an XML property list. Counted on the text, so
// tags inside comments or CDATA count too: such a list may be refused, never let through.
bool xmlNestingWithin(const QByteArray& data, int maxDepth) {
    int depth = 0;
    const char* p = data.constData();
    const char* end = p + data.size();
    while ((p = static_cast<const char*>(std::memchr(p, '<', static_cast<std::size_t>(end - p))))) {
        ++p;
        const bool closing = p < end && *p == '/';
        if (closing)
            ++p;
        const char* name = p;
        while (p < end && (std::isalnum(static_cast<unsigned char>(*p)) || *p == '_' || *p == ':'))
            ++p;
        const QByteArray tag = QByteArray::fromRawData(name, p - name);
        if (tag != "array" && tag != "dict")
            continue;
        const char* close = static_cast<const char*>(std::memchr(p, '>', static_cast<std::size_t>(end - p)));
        const bool empty = close && close > p && close[-1] == '/';
        if (closing)
            depth = std::max(0, depth - 1);
        else if (!empty && ++depth > maxDepth)
            return false;
    }
    return true;
}

// What a binary property list holds, judged before libplist reads it.
enum class BinaryShape { Fine, Unreadable, HoldsNul };

// The shape of a binary property list, walked through its offset table with a stack of its own.
// Unreadable when it nests deeper than `maxDepth`, holds a cycle, its table does not hold together
// (libplist refuses such lists too), or it would make more than `maxNodes` values: libplist
// copies an object for every reference to it, so a few shared arrays expand exponentially.
// HoldsNul when a string or key holds a NUL, which libplist 2.2 asserts on when it hands it out.
BinaryShape binaryShapeWithin(const QByteArray& data, int maxDepth, std::uint64_t maxNodes) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    const std::uint64_t size = static_cast<std::uint64_t>(data.size());
    constexpr std::uint64_t kHeader = 8, kTrailer = 32;
    if (size < kHeader + kTrailer)
        return BinaryShape::Unreadable;
    auto number = [&](std::uint64_t at, unsigned width) {
        std::uint64_t v = 0;
        for (unsigned i = 0; i < width; ++i)
            v = (v << 8) | bytes[at + i];
        return v;
    };
    const std::uint64_t trailer = size - kTrailer;
    const unsigned offsetSize = bytes[trailer + 6];
    const unsigned refSize = bytes[trailer + 7];
    const std::uint64_t count = number(trailer + 8, 8);
    const std::uint64_t top = number(trailer + 16, 8);
    const std::uint64_t table = number(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || count == 0 || top >= count ||
        table < kHeader || table >= trailer || count > (trailer - table) / offsetSize)
        return BinaryShape::Unreadable;
    auto objectAt = [&](std::uint64_t index) { return number(table + index * offsetSize, offsetSize); };
    bool holdsNul = false;
    // A container's references: where they start and how many there are. Strings are scanned
    // for a NUL on the way (ASCII bytes, or UTF-16 units).
    auto references = [&](std::uint64_t index, std::uint64_t* first, std::uint64_t* n) {
        std::uint64_t at = objectAt(index);
        if (at < kHeader || at >= table)
            return false;
        const unsigned kind = bytes[at] >> 4;
        std::uint64_t length = bytes[at] & 0x0f;
        *n = 0;
        const bool container = kind == 0xa || kind == 0xb || kind == 0xc || kind == 0xd;
        const bool text = kind == 0x5 || kind == 0x6;
        if (!container && !text)
            return true;
        ++at;
        if (length == 0x0f) {
            if (at >= table || (bytes[at] >> 4) != 0x1)
                return false;
            const unsigned width = 1u << (bytes[at] & 0x0f);
            if (width > 8 || at + 1 + width > table)
                return false;
            length = number(at + 1, width);
            at += 1 + width;
        }
        if (text) {
            const std::uint64_t unit = kind == 0x6 ? 2 : 1;
            if (length > (table - at) / unit)
                return false;
            for (std::uint64_t i = 0; i < length && !holdsNul; ++i)
                holdsNul = unit == 1 ? bytes[at + i] == 0 : (bytes[at + 2 * i] | bytes[at + 2 * i + 1]) == 0;
            return true;
        }
        const std::uint64_t refs = kind == 0xd ? 2 : 1;
        if (length > (table - at) / refSize / refs)
            return false;
        *first = at;
        *n = length * refs;
        return true;
    };
    // Depth-first, remembering each finished object's expanded size: shared ones are walked once.
    enum : unsigned char { Unseen, Open, Done };
    std::vector<unsigned char> state(static_cast<std::size_t>(count), Unseen);
    std::vector<std::uint64_t> expanded(static_cast<std::size_t>(count), 0);
    struct Frame {
        std::uint64_t index, first, n, next, nodes;
    };
    std::vector<Frame> stack;
    // Adds a finished child's size to its parent; false past the budget.
    auto add = [&](std::uint64_t nodes) {
        Frame& parent = stack.back();
        parent.nodes += nodes;
        return parent.nodes <= maxNodes;
    };
    auto enter = [&](std::uint64_t index) {
        if (index >= count)
            return false;
        if (state[index] == Done)
            return stack.empty() || add(expanded[index]);
        // Back on the path is a cycle; a path longer than allowed is too deep.
        if (state[index] == Open || stack.size() > static_cast<std::size_t>(maxDepth))
            return false;
        Frame f{index, 0, 0, 0, 1};
        if (!references(index, &f.first, &f.n))
            return false;
        state[index] = Open;
        stack.push_back(f);
        return true;
    };
    if (!enter(top))
        return BinaryShape::Unreadable;
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next == f.n) {
            const std::uint64_t index = f.index, nodes = f.nodes;
            state[index] = Done;
            expanded[index] = nodes;
            stack.pop_back();
            if (!stack.empty() && !add(nodes))
                return BinaryShape::Unreadable;
            continue;
        }
        const std::uint64_t child = number(f.first + f.next * refSize, refSize);
        ++f.next;
        if (!enter(child))
            return BinaryShape::Unreadable;
    }
    return holdsNul ? BinaryShape::HoldsNul : BinaryShape::Fine;
}

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

} // namespace

QVariant ZNFPropertyListFromData(const QByteArray& data, QString* error) {
    auto fail = [&](const QString& reason) {
        if (error)
            *error = reason;
        return QVariant();
    };
    if (data.isEmpty())
        return fail(QStringLiteral("empty property list"));
    if (data.size() > kMaxSize)
        return fail(QStringLiteral("property list too large"));
    const bool binary = plist_is_binary(data.constData(), static_cast<uint32_t>(data.size())) != 0;
    const BinaryShape shape = binary ? binaryShapeWithin(data, kMaxDepth, kMaxNodes) : BinaryShape::Fine;
    if (shape == BinaryShape::Unreadable || (!binary && !xmlNestingWithin(data, kMaxDepth)))
        return fail(QStringLiteral("property list is unreadable, nested too deeply or too large"));
    // An XML list can only get a NUL into a string as a raw byte (libplist refuses "&#0;"), and
    // XML allows none anywhere.
    if (shape == BinaryShape::HoldsNul || (!binary && data.contains('\0')))
        return fail(QStringLiteral("property list holds a string with a NUL byte"));
    plist_t root = nullptr;
    plist_from_memory(data.constData(), static_cast<uint32_t>(data.size()), &root);
    if (!root)
        return fail(QStringLiteral("not a property list"));
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
