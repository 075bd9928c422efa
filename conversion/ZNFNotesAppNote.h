#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>

// One note record of the notes export.
class ZNFNotesAppNote {
public:
    ZNFNotesAppNote() = default;
    explicit ZNFNotesAppNote(QJsonObject dictionary) : m_dictionary(std::move(dictionary)) {}

    const QJsonObject& dictionary() const { return m_dictionary; }
    void setDictionary(QJsonObject dictionary) { m_dictionary = std::move(dictionary); }

    bool importable() const { return m_importable; }
    void setImportable(bool importable) { m_importable = importable; }

    // The text on one line ("\n" -> " "), or "Empty note"; computed once, then kept.
    QString display();
    void setDisplay(QString display) { m_display = std::move(display); }

private:
    QJsonObject m_dictionary;
    bool m_importable = true;
    std::optional<QString> m_display;
};
