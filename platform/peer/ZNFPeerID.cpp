#include "platform/peer/ZNFPeerID.h"

#include "platform/peer/ZNFPeerIdentity.h"

#include <QSysInfo>
#include <QUuid>

namespace {
QString clampedName(const QString& name) {
    constexpr int kMaxBytes = 63;
    QString result = name;
    while (result.toUtf8().size() > kMaxBytes)
        result.chop(result.size() >= 2 && result.at(result.size() - 1).isLowSurrogate() ? 2 : 1);
    return result;
}
} // namespace

ZNFPeerID::ZNFPeerID(const QString& displayName)
    : m_displayName(clampedName(displayName)),
      m_uniqueID(QUuid::createUuid().toString(QUuid::WithoutBraces)) {}

ZNFPeerID::ZNFPeerID(const QString& displayName, const QString& uniqueID)
    : m_displayName(clampedName(displayName)), m_uniqueID(uniqueID) {}

ZNFPeerID::ZNFPeerID(const QString& displayName, std::shared_ptr<const ZNFPeerIdentity> identity)
    : m_displayName(clampedName(displayName)), m_uniqueID(identity ? identity->fingerprint() : QString()),
      m_identity(std::move(identity)) {}

QString ZNFPeerID::description() const {
    if (isNull())
        return QStringLiteral("(null)");
    return QStringLiteral("<ZNFPeerID DisplayName = %1>").arg(m_displayName);
}

QString ZNFPeerID::localHostName() {
    QString name = QSysInfo::machineHostName();
    // A fully qualified name shows only its first label, as a computer name would.
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    if (dot > 0)
        name.truncate(dot);
    return name;
}
