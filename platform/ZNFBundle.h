#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>
#include <QUrl>

// The language the application's own texts are written in; it needs no string table.
inline constexpr QLatin1StringView ZNFBundle_DevelopmentLocalization{"en"};
// Where an installed executable finds its resources, from the installation prefix.
inline constexpr QLatin1StringView ZNFBundle_InstalledPath{"share/notecrate"};

// A folder of resources, the stand-in for the platform's bundles. The main bundle's
// folder is, in order: $NOTECRATE_RESOURCES, "resources" next to the executable (a build),
// "../share/notecrate" from the executable (an installation), the source tree's "resources"
// (so a build runs from anywhere).
class ZNFBundle {
public:
    explicit ZNFBundle(QString path) : m_path(std::move(path)) {}

    static ZNFBundle mainBundle();

    // Installs the main bundle's string table ("translations/notecrate_<language>.qm"), and Qt's
    // own ("qtbase_<language>.qm") beside it, for the
    // first of the locale's languages that has one, replacing a table installed before; with
    // none, the texts stay in the development language. Returns preferredLocalizations().
    static QStringList installLocalizations(const QLocale& locale = QLocale());
    // The languages the application runs in, as language codes: the one whose string table
    // installLocalizations() installed, else the development language. Always a subset of the
    // application's own languages, whatever the user's are.
    static QStringList preferredLocalizations();
    // An empty path gives an invalid bundle (every lookup answers empty).
    static ZNFBundle bundleWithPath(const QString& path);

    QString bundlePath() const { return m_path; }
    bool isValid() const { return !m_path.isEmpty(); }

    // "name.type" in the bundle (type may be empty); empty when there is no such file or folder.
    QString pathForResource(const QString& name, const QString& type) const;

    // An image resource by name: "<name>.png" (or .jpg, .jpeg) in the bundle or its "images"
    // folder, as a file URL; empty when there is none.
    QUrl urlForImageResource(const QString& name) const;

private:
    QString m_path;
};

// The main string table: English text is the key (Qt translations, context "Localizable").
QString ZNFLocalizedString(const char* key);
