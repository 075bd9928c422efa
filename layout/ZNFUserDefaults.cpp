#include "layout/ZNFUserDefaults.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>

ZNFUserDefaults::ZNFUserDefaults(const QString& filePath)
    : m_settings(std::make_unique<QSettings>(filePath, QSettings::IniFormat)) {}

ZNFUserDefaults::~ZNFUserDefaults() = default;

ZNFUserDefaults& ZNFUserDefaults::standardUserDefaults() {
    static ZNFUserDefaults* defaults = [] {
        QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        if (folder.isEmpty())
            folder = QDir::homePath() + QStringLiteral("/.config");
        return new ZNFUserDefaults(folder + QStringLiteral("/Notecrate/userdefaults.ini"));
    }();
    return *defaults;
}

QVariant ZNFUserDefaults::objectForKey(const QString& key) const {
    if (key.isEmpty())
        return QVariant();
    const QVariant raw = m_settings->value(key);
    if (raw.typeId() != QMetaType::QByteArray)
        return QVariant();
    // Stored as a serialised QVariant so that the type survives the text file.
    QByteArray bytes = raw.toByteArray();
    QDataStream in(&bytes, QIODevice::ReadOnly);
    in.setVersion(QDataStream::Qt_6_4);
    QVariant value;
    in >> value;
    if (in.status() != QDataStream::Ok)
        return QVariant();
    return value;
}

void ZNFUserDefaults::setObject(const QVariant& value, const QString& key) {
    if (key.isEmpty())
        return;
    if (!value.isValid() || value.isNull()) {
        removeObjectForKey(key);
        return;
    }
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << value;
    m_settings->setValue(key, bytes);
}

void ZNFUserDefaults::removeObjectForKey(const QString& key) {
    if (!key.isEmpty())
        m_settings->remove(key);
}

QString ZNFUserDefaults::filePath() const {
    return m_settings->fileName();
}

void ZNFUserDefaults::synchronize() {
    m_settings->sync();
}
