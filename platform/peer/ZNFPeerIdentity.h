#pragma once

#include <QByteArray>
#include <QMap>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QVariantList>
#include <memory>

// Which device this process plays. `notecrate receive` stands in for the phone: it keeps an
// identity and remembered peers of its own (files named "receiver-..." beside the computer's), so
// that it and `notecrate send` on one computer link as two devices would.
enum class ZNFDeviceRole { Computer, Receiver };

// A device's own key pair and self-signed certificate: what it proves itself with on every
// encrypted link. Its fingerprint (SHA-256 of the certificate's SubjectPublicKeyInfo, hex)
// is the peer's unique id, so no peer can claim another's id without its key.
class ZNFPeerIdentity {
public:
    ZNFPeerIdentity() = default;
    ZNFPeerIdentity(const QSslCertificate& certificate, const QSslKey& key);

    bool isNull() const { return m_fingerprint.isEmpty(); }
    QSslCertificate certificate() const { return m_certificate; }
    QSslKey key() const { return m_key; }
    QString fingerprint() const { return m_fingerprint; }

    // What a session's securityIdentity holds: [certificate PEM, private key PEM].
    QVariantList toSecurityIdentity() const;
    static ZNFPeerIdentity fromSecurityIdentity(const QVariantList& list);

    // A new P-256 key and a self-signed certificate naming `commonName`, in memory.
    static ZNFPeerIdentity generate(const QString& commonName);
    static QString fingerprintOf(const QSslCertificate& certificate);

    // The folder of this installation's identity and remembered peers.
    static QString configFolder();
    // The role of this process; Computer unless a command says otherwise.
    static ZNFDeviceRole deviceRole();
    static void setDeviceRole(ZNFDeviceRole role);
    // One of a role's files in the config folder: "identity-key.pem" for the computer,
    // "receiver-identity-key.pem" for the receiver.
    static QString deviceFileName(QLatin1StringView file, ZNFDeviceRole role);
    // Reads the role's identity in `folder`, or makes and stores one when the folder has none. A
    // file that is there but damaged is never replaced: null, with `error` naming what to delete.
    static ZNFPeerIdentity loadOrCreate(const QString& folder, QString* error,
                                        ZNFDeviceRole role = deviceRole());
    // This installation's identity from configFolder(), made there on first use. Null with
    // `error` set when it is damaged.
    static std::shared_ptr<const ZNFPeerIdentity> device(QString* error = nullptr);
    // After the user chose to replace a damaged identity: removes its files and makes a new one.
    static std::shared_ptr<const ZNFPeerIdentity> replaceDevice(QString* error = nullptr);

private:
    QSslCertificate m_certificate;
    QSslKey m_key;
    QString m_fingerprint;
};

// Peers a person confirmed once, by name, with the fingerprint they had then. Kept as JSON in
// the config folder and rewritten whole on every change.
class ZNFPinnedPeers {
public:
    enum Match { Unknown, Known, Changed };

    explicit ZNFPinnedPeers(const QString& folder, ZNFDeviceRole role = ZNFPeerIdentity::deviceRole());
    Match match(const QString& name, const QString& fingerprint) const;
    bool pin(const QString& name, const QString& fingerprint, QString* error = nullptr);
    // False when no peer of that name was remembered.
    bool forget(const QString& name, QString* error = nullptr);

private:
    bool save(QString* error);
    QString m_path;
    QMap<QString, QString> m_pins;
};

// The six digits both screens show, grouped as "123 456", from both fingerprints and the
// inviter's and the invited side's nonces.
namespace ZNFPeerCode {
QString derive(const QString& fingerprintA, const QString& fingerprintB, const QByteArray& inviterNonce,
               const QByteArray& answerNonce);
constexpr int kNonceBytes = 32;
} // namespace ZNFPeerCode
