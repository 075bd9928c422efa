#include "layout/ZNFLayoutTemplate.h"

#include "platform/ZNFLog.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {
std::optional<QString> compactJSON(const QVariant& value) {
    QJsonDocument document;
    if (value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QStringList)
        document = QJsonDocument(QJsonArray::fromVariantList(value.toList()));
    else if (value.typeId() == QMetaType::QVariantMap)
        document = QJsonDocument(QJsonObject::fromVariantMap(value.toMap()));
    else if (value.typeId() == QMetaType::QVariantHash)
        document = QJsonDocument(QJsonObject::fromVariantHash(value.toHash()));
    else
        return std::nullopt;
    return QString::fromUtf8(document.toJson(QJsonDocument::Compact));
}
} // namespace

void ZNFLayoutTemplate::setTemplateJSON(const QVariant& json) {
    m_templateJSON = json;
    m_templateString.reset();
}

std::optional<QString> ZNFLayoutTemplate::templateString() {
    if (!m_templateString && m_templateJSON.isValid())
        m_templateString = compactJSON(m_templateJSON);
    return m_templateString;
}

std::optional<QString> ZNFLayoutTemplate::templateValueForKey(const QString& key, const QVariantMap& data) {
    const QVariant value = data.value(key);
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    return compactJSON(value);
}

std::optional<QVariant> ZNFLayoutTemplate::fulfillWithData(const QVariantMap& data) {
    const std::optional<QString> text = templateString();
    if (!text)
        return std::nullopt;
    QString filled = *text;
    for (auto it = data.cbegin(); it != data.cend(); ++it) {
        const std::optional<QString> value = templateValueForKey(it.key(), data);
        if (!value)
            continue;
        filled.replace(ZNFFormat(QLatin1String(ZNFLayoutTemplate_PlaceholderFormat), {it.key()}), *value);
    }
    filled.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    // Any JSON value may stand at the top: wrap it in an array and take its one element back.
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray("[") + filled.toUtf8() + QByteArray("\n]"), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray() || document.array().size() != 1)
        return std::nullopt;
    return document.array().at(0).toVariant();
}
