#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <optional>

// Placeholders of the form "{{key}}" in a JSON text, filled from a data dictionary.
inline constexpr QLatin1StringView ZNFLayoutTemplate_PlaceholderFormat{"{{%@}}"};

class ZNFLayoutTemplate {
public:
    // The template as data (an array or a dictionary); setting it clears the text.
    const QVariant& templateJSON() const { return m_templateJSON; }
    void setTemplateJSON(const QVariant& json);
    // The template as JSON text; made from templateJSON (compact) on first read when unset.
    // Absent when neither is set or templateJSON cannot be written as JSON.
    std::optional<QString> templateString();
    void setTemplateString(const std::optional<QString>& text) { m_templateString = text; }

    // A string value as it is; an array or dictionary as compact JSON; anything else nothing.
    static std::optional<QString> templateValueForKey(const QString& key, const QVariantMap& data);
    // Fills every placeholder that has a value (literally, no escaping) in one pass, so that
    // inserted values are never searched again; turns line feeds into the two characters "\n"
    // and decodes the result. Nothing when it is not valid JSON or would be absurdly long. A
    // key holding "}}" is never found: its placeholder ends at its first "}}".
    std::optional<QVariant> fulfillWithData(const QVariantMap& data);

private:
    QVariant m_templateJSON;
    std::optional<QString> m_templateString;
};
