#include "platform/peer/ZNFPeerIdentity.h"

#include "platform/peer/ZNFPeerLog.h"
#include "platform/peer/ZNFSha256.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtEndian>
#include <atomic>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

namespace {
constexpr QLatin1StringView kKeyFile{"identity-key.pem"};
constexpr QLatin1StringView kCertificateFile{"identity-certificate.pem"};
constexpr QLatin1StringView kPinsFile{"remembered-peers.json"};
// Identity and pin files are a few kilobytes; anything larger is not ours.
constexpr qint64 kMaxFileBytes = 256 * 1024;
std::atomic<ZNFDeviceRole> currentRole{ZNFDeviceRole::Computer};
constexpr long kValiditySeconds = 20L * 365 * 24 * 3600;

template <typename T, void (*Free)(T*)> struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

QByteArray bioBytes(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return QByteArray(data, length);
}

// The DER SubjectPublicKeyInfo of a key, hashed: what a fingerprint is.
QString spkiFingerprint(EVP_PKEY* key) {
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(key, &der);
    if (length <= 0)
        return {};
    const QByteArray digest = ZNFSha256::hash(QByteArray(reinterpret_cast<const char*>(der), length));
    OPENSSL_free(der);
    return QString::fromLatin1(digest.toHex());
}

QString keyFingerprint(const QSslKey& key) {
    const QByteArray pem = key.toPem();
    Bio bio(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    Pkey pkey(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    return pkey ? spkiFingerprint(pkey.get()) : QString();
}

bool writeFile(const QString& path, const QByteArray& bytes, bool secret, QString* error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        (secret && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) ||
        file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

QByteArray readSmall(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileBytes) {
        *error = QStringLiteral("cannot read %1").arg(path);
        return {};
    }
    return file.readAll();
}
} // namespace

ZNFPeerIdentity::ZNFPeerIdentity(const QSslCertificate& certificate, const QSslKey& key)
    : m_certificate(certificate), m_key(key) {
    const QString fingerprint = fingerprintOf(certificate);
    // A key that is not the certificate's leaves the identity null.
    if (!fingerprint.isEmpty() && fingerprint == keyFingerprint(key))
        m_fingerprint = fingerprint;
}

QVariantList ZNFPeerIdentity::toSecurityIdentity() const {
    return {m_certificate.toPem(), m_key.toPem()};
}

ZNFPeerIdentity ZNFPeerIdentity::fromSecurityIdentity(const QVariantList& list) {
    if (list.size() != 2)
        return {};
    return ZNFPeerIdentity(QSslCertificate(list.at(0).toByteArray(), QSsl::Pem),
                           QSslKey(list.at(1).toByteArray(), QSsl::Ec, QSsl::Pem));
}

QString ZNFPeerIdentity::fingerprintOf(const QSslCertificate& certificate) {
    if (certificate.isNull())
        return {};
    const QByteArray der = certificate.toDer();
    const auto* data = reinterpret_cast<const unsigned char*>(der.constData());
    X509Ptr x509(d2i_X509(nullptr, &data, long(der.size())));
    if (!x509)
        return {};
    return spkiFingerprint(X509_get0_pubkey(x509.get()));
}

ZNFPeerIdentity ZNFPeerIdentity::generate(const QString& commonName) {
    Pkey key(EVP_EC_gen("P-256"));
    X509Ptr x509(X509_new());
    if (!key || !x509)
        return {};
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7f; // positive
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(x509.get()));
    BN_free(bn);
    X509_set_version(x509.get(), X509_VERSION_3);
    X509_gmtime_adj(X509_getm_notBefore(x509.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x509.get()), kValiditySeconds);
    X509_set_pubkey(x509.get(), key.get());
    X509_NAME* name = X509_get_subject_name(x509.get());
    const QByteArray cn = commonName.left(60).toUtf8();
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(cn.constData()), int(cn.size()), -1, 0);
    X509_set_issuer_name(x509.get(), name);
    if (X509_sign(x509.get(), key.get(), EVP_sha256()) <= 0)
        return {};
    Bio certBio(BIO_new(BIO_s_mem()));
    Bio keyBio(BIO_new(BIO_s_mem()));
    if (!PEM_write_bio_X509(certBio.get(), x509.get()) ||
        !PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr))
        return {};
    return ZNFPeerIdentity(QSslCertificate(bioBytes(certBio.get()), QSsl::Pem),
                           QSslKey(bioBytes(keyBio.get()), QSsl::Ec, QSsl::Pem));
}

QString ZNFPeerIdentity::configFolder() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("Notecrate"));
}

ZNFDeviceRole ZNFPeerIdentity::deviceRole() {
    return currentRole.load();
}

void ZNFPeerIdentity::setDeviceRole(ZNFDeviceRole role) {
    currentRole.store(role);
}

QString ZNFPeerIdentity::deviceFileName(QLatin1StringView file, ZNFDeviceRole role) {
    return role == ZNFDeviceRole::Receiver ? QStringLiteral("receiver-") + file : QString(file);
}

ZNFPeerIdentity ZNFPeerIdentity::loadOrCreate(const QString& folder, QString* error, ZNFDeviceRole role) {
    const QDir dir(folder);
    const QString keyFile = deviceFileName(kKeyFile, role);
    const QString certificateFile = deviceFileName(kCertificateFile, role);
    const QString keyPath = dir.filePath(keyFile);
    const QString certificatePath = dir.filePath(certificateFile);
    const bool hasKey = QFile::exists(keyPath);
    const bool hasCertificate = QFile::exists(certificatePath);
    if (!hasKey && !hasCertificate) {
        ZNFPeerIdentity made = generate(QStringLiteral("Notecrate device"));
        if (made.isNull()) {
            *error = QStringLiteral("cannot make a device identity");
            return {};
        }
        if (!QDir().mkpath(folder)) {
            *error = QStringLiteral("cannot create %1").arg(folder);
            return {};
        }
        QFile::setPermissions(folder,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        // The certificate goes last: a key without it still counts as damaged, never as absent.
        if (!writeFile(keyPath, made.key().toPem(), true, error) ||
            !writeFile(certificatePath, made.certificate().toPem(), false, error))
            return {};
        qCInfo(lcPeer()).noquote() << QStringLiteral("Made a new device identity %1").arg(made.fingerprint());
        return made;
    }
    QString readError;
    const QByteArray keyPem = hasKey ? readSmall(keyPath, &readError) : QByteArray();
    const QByteArray certificatePem = hasCertificate ? readSmall(certificatePath, &readError) : QByteArray();
    const ZNFPeerIdentity identity(QSslCertificate(certificatePem, QSsl::Pem),
                                   QSslKey(keyPem, QSsl::Ec, QSsl::Pem));
    if (identity.isNull()) {
        *error = QStringLiteral("the device identity in %1 is damaged or unreadable; delete %2 and %3 to "
                                "make a new one (phones that remembered this computer will ask again)")
                     .arg(folder, keyFile, certificateFile);
        qCWarning(lcPeer()).noquote() << QStringLiteral("Damaged device identity: %1").arg(*error);
    }
    return identity;
}

namespace {
struct DeviceCache {
    QMutex mutex;
    QString folder;
    std::shared_ptr<const ZNFPeerIdentity> identity;
    QString error;
};
DeviceCache& deviceCache() {
    static DeviceCache cache;
    return cache;
}
} // namespace

std::shared_ptr<const ZNFPeerIdentity> ZNFPeerIdentity::device(QString* error) {
    DeviceCache& cache = deviceCache();
    QMutexLocker lock(&cache.mutex);
    const QString folder = configFolder();
    // Read again each time (two small files): a file damaged or replaced meanwhile counts.
    cache.folder = folder;
    cache.error.clear();
    const ZNFPeerIdentity loaded = loadOrCreate(folder, &cache.error);
    cache.identity = loaded.isNull() ? nullptr : std::make_shared<const ZNFPeerIdentity>(loaded);
    if (error)
        *error = cache.error;
    return cache.identity;
}

std::shared_ptr<const ZNFPeerIdentity> ZNFPeerIdentity::replaceDevice(QString* error) {
    const QDir dir(configFolder());
    QFile::remove(dir.filePath(deviceFileName(kKeyFile, deviceRole())));
    QFile::remove(dir.filePath(deviceFileName(kCertificateFile, deviceRole())));
    {
        QMutexLocker lock(&deviceCache().mutex);
        deviceCache().identity.reset();
    }
    return device(error);
}

ZNFPinnedPeers::ZNFPinnedPeers(const QString& folder, ZNFDeviceRole role)
    : m_path(QDir(folder).filePath(ZNFPeerIdentity::deviceFileName(kPinsFile, role))) {
    QString ignored;
    const QJsonObject pins = QJsonDocument::fromJson(readSmall(m_path, &ignored)).object();
    for (auto it = pins.begin(); it != pins.end(); ++it)
        if (it.value().isString())
            m_pins.insert(it.key(), it.value().toString());
}

ZNFPinnedPeers::Match ZNFPinnedPeers::match(const QString& name, const QString& fingerprint) const {
    const auto it = m_pins.constFind(name);
    if (it == m_pins.cend())
        return Unknown;
    return *it == fingerprint ? Known : Changed;
}

bool ZNFPinnedPeers::pin(const QString& name, const QString& fingerprint, QString* error) {
    m_pins.insert(name, fingerprint);
    return save(error);
}

bool ZNFPinnedPeers::forget(const QString& name, QString* error) {
    if (!m_pins.remove(name))
        return false;
    return save(error);
}

bool ZNFPinnedPeers::save(QString* error) {
    QJsonObject pins;
    for (auto it = m_pins.cbegin(); it != m_pins.cend(); ++it)
        pins.insert(it.key(), *it);
    QString failure;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    if (writeFile(m_path, QJsonDocument(pins).toJson(), true, &failure))
        return true;
    qCWarning(lcPeer()).noquote() << QStringLiteral("Could not remember peers: %1").arg(failure);
    if (error)
        *error = failure;
    return false;
}

QString ZNFPeerCode::derive(const QString& fingerprintA, const QString& fingerprintB,
                            const QByteArray& inviterNonce, const QByteArray& answerNonce) {
    const QString& low = fingerprintA < fingerprintB ? fingerprintA : fingerprintB;
    const QString& high = fingerprintA < fingerprintB ? fingerprintB : fingerprintA;
    ZNFSha256 sha;
    sha.addData(QByteArrayLiteral("notecrate-code-1"));
    sha.addData(low.toLatin1());
    sha.addData(high.toLatin1());
    sha.addData(inviterNonce);
    sha.addData(answerNonce);
    const quint64 value = qFromBigEndian<quint64>(sha.result().constData()) % 1000000;
    return QStringLiteral("%1 %2")
        .arg(value / 1000, 3, 10, QLatin1Char('0'))
        .arg(value % 1000, 3, 10, QLatin1Char('0'));
}
