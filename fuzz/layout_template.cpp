// A layout template and its data. Input: the template's JSON text, a NUL byte, the data as a
// JSON object. Filling must never break a template made from data (its placeholders sit inside
// strings) when the values are plain text, and a template with no data decodes to itself.

#include "FuzzSupport.h"

#include "layout/ZNFLayoutTemplate.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace {

std::optional<QVariant> decode(const QByteArray& text) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson("[" + text + "\n]", &error);
    if (error.error != QJsonParseError::NoError || !document.isArray() || document.array().size() != 1)
        return std::nullopt;
    return document.array().at(0).toVariant();
}

bool isPlain(const QString& text, bool allowLineFeed) {
    for (QChar c : text)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u' ' && !(allowLineFeed && c == u'\n'))
            return false;
    return true;
}

bool sameJSON(const QVariant& a, const QVariant& b) {
    return QJsonValue::fromVariant(a) == QJsonValue::fromVariant(b);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    NCFuzz::environment();
    const QByteArray input = NCFuzz::bytes(data, size);
    const qsizetype split = input.indexOf('\0');
    // Templates are text: bytes that are not UTF-8 arrive as replacement characters.
    const QByteArray templateText = QString::fromUtf8(split < 0 ? input : input.left(split)).toUtf8();
    const QVariantMap values =
        split < 0 ? QVariantMap() : QJsonDocument::fromJson(input.mid(split + 1)).object().toVariantMap();

    // As text, filled as given.
    ZNFLayoutTemplate byText;
    byText.setTemplateString(QString::fromUtf8(templateText));
    const std::optional<QVariant> filled = byText.fulfillWithData(values);
    FUZZ_CHECK(filled == byText.fulfillWithData(values), QStringLiteral("two fillings differ"));
    if (values.isEmpty() && !templateText.contains('\n'))
        FUZZ_CHECK(filled.has_value() == decode(templateText).has_value(),
                   QStringLiteral("with no data the template is not its own JSON"));

    // As data: a compact template with plain text values always decodes.
    const std::optional<QVariant> json = decode(templateText);
    if (!json || (json->typeId() != QMetaType::QVariantList && json->typeId() != QMetaType::QVariantMap))
        return 0;
    ZNFLayoutTemplate byData;
    byData.setTemplateJSON(*json);
    const std::optional<QVariant> same = byData.fulfillWithData({});
    FUZZ_CHECK(same && sameJSON(*same, *json), QStringLiteral("a template made from data lost it unfilled"));

    QVariantMap plain;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        if (it.value().typeId() == QMetaType::QString && isPlain(it.key(), false) && !it.key().isEmpty() &&
            isPlain(it.value().toString(), true))
            plain.insert(it.key(), it.value());
    const std::optional<QVariant> result = byData.fulfillWithData(plain);
    FUZZ_CHECK(result.has_value(), QStringLiteral("plain values broke a template made from data"));
    FUZZ_CHECK(result->typeId() == json->typeId(), QStringLiteral("filling changed the template's shape"));
    return 0;
}
