#include "layout/ZNFLayoutTemplate.h"

#include "layout/ZNFLayoutLog.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// Characters a filled template may have: far more than any screen's layout.
constexpr qsizetype kMaxFilledLength = 16 * 1024 * 1024;

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
    QHash<QString, QString> values;
    qsizetype longestKey = 0;
    for (auto it = data.cbegin(); it != data.cend(); ++it) {
        if (std::optional<QString> value = templateValueForKey(it.key(), data)) {
            values.insert(it.key(), *value);
            longestKey = std::max(longestKey, it.key().size());
        }
    }
    // One pass over the template: an inserted value is never searched for placeholders again,
    // so data cannot fill placeholders of its own nor grow the text without end.
    const QStringView t(*text);
    QString filled;
    filled.reserve(t.size());
    qsizetype at = 0;
    qsizetype close = -1; // the first "}}" after the current "{{", kept while it still is
    for (;;) {
        const qsizetype open = t.indexOf("{{"_L1, at);
        if (open < 0)
            break;
        if (close < open + 2)
            close = t.indexOf("}}"_L1, open + 2);
        if (close < 0)
            break;
        filled += t.mid(at, open - at);
        const qsizetype keyLength = close - open - 2;
        const auto value =
            keyLength <= longestKey ? values.constFind(t.mid(open + 2, keyLength).toString()) : values.cend();
        if (value != values.cend()) {
            filled += *value;
            at = close + 2;
        } else {
            // Not a placeholder with a value: the brace stays, the next one may start one.
            filled += u'{';
            at = open + 1;
        }
        if (filled.size() > kMaxFilledLength) {
            qCWarning(lcLayout()).noquote()
                << QStringLiteral("Layout template not filled: it would exceed %1 characters")
                       .arg(QString::number(kMaxFilledLength));
            return std::nullopt;
        }
    }
    filled += t.mid(at);
    filled.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    // Any JSON value may stand at the top: wrap it in an array and take its one element back.
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray("[") + filled.toUtf8() + QByteArray("\n]"), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray() || document.array().size() != 1)
        return std::nullopt;
    return document.array().at(0).toVariant();
}
