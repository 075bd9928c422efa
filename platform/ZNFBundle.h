#pragma once

#include <QString>
#include <QUrl>

// A folder of resources, the stand-in for the platform's bundles. The main bundle's
// folder is, in order: $NOTECRATE_RESOURCES, "resources" next to the executable, the
// source tree's "resources" (so a build runs from anywhere).
class ZNFBundle {
public:
    explicit ZNFBundle(QString path) : m_path(std::move(path)) {}

    static ZNFBundle mainBundle();
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
