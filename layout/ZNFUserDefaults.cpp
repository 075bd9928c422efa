#include "layout/ZNFUserDefaults.h"

#include "platform/ZNFValueReading.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>

ZNFUserDefaults::ZNFUserDefaults(const QString& filePath)
    : m_settings(std::make_unique<QSettings>(filePath, QSettings::IniFormat)) {
    // QSettings writes its file on a later turn of the event loop. A value set in the turn
    // that quits would never get there: write it while the application winds down.
    if (QCoreApplication* app = QCoreApplication::instance())
        QObject::connect(app, &QCoreApplication::aboutToQuit, m_settings.get(), [this] { synchronize(); });
}

ZNFUserDefaults::~ZNFUserDefaults() {
    synchronize();
}

ZNFUserDefaults& ZNFUserDefaults::standardUserDefaults() {
    // Kept to the end of the process and destroyed then, which writes what is still pending
    // when the process ends without an event loop.
    static ZNFUserDefaults defaults([] {
        QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        if (folder.isEmpty())
            folder = QDir::homePath() + QStringLiteral("/.config");
        return folder + QStringLiteral("/Notecrate/userdefaults.ini");
    }());
    return defaults;
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

namespace {
// Deeper nesting than any setting needs; keeps a hostile value from exhausting the stack.
constexpr int kMaxPropertyListDepth = 512;

bool isPropertyListValue(const QVariant& value, int depth) {
    if (depth > kMaxPropertyListDepth)
        return false;
    if (ZNFIsNumber(value))
        return true;
    switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::QByteArray:
        return true;
    case QMetaType::QDateTime:
        return value.toDateTime().isValid();
    case QMetaType::QStringList:
        return true;
    case QMetaType::QVariantList: {
        const QVariantList list = value.toList();
        for (const QVariant& entry : list)
            if (!isPropertyListValue(entry, depth + 1))
                return false;
        return true;
    }
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            if (!isPropertyListValue(it.value(), depth + 1))
                return false;
        return true;
    }
    case QMetaType::QVariantHash: {
        const QVariantHash hash = value.toHash();
        for (auto it = hash.cbegin(); it != hash.cend(); ++it)
            if (!isPropertyListValue(it.value(), depth + 1))
                return false;
        return true;
    }
    default:
        return false;
    }
}
} // namespace

bool ZNFUserDefaults::isPropertyList(const QVariant& value) {
    return isPropertyListValue(value, 0);
}
