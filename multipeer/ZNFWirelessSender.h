#pragma once

#include "platform/peer/ZNFPeerError.h"
#include "platform/peer/ZNFPeerID.h"

#include <QObject>
#include <QString>
#include <memory>

class ZNFMultipeerController;

// The service type the phone browses for.
inline constexpr QLatin1StringView ZNFWirelessSender_serviceType{"sfn"};

// One wireless send of an archive to one phone, as "Send Wirelessly" and `notecrate send`
// do it: advertises the service with the computer's name, takes the first phone that
// invites, sends the archive to that peer alone and reports one outcome. Once the phone is
// connected advertising stops and every other peer is declined or dropped; nothing another
// peer does ends or fails the send. Lives on the main thread and signals there.
//
// A phone this computer never sent to is shown with the code of its link
// (confirmationNeeded) and gets nothing until confirm(); once it has received an archive it
// is remembered (its key pinned in the config folder) and later invitations from it are
// accepted at once. A remembered name arriving with another key ends the send with
// PeerChanged and sends nothing.
class ZNFWirelessSender : public QObject {
    Q_OBJECT
public:
    explicit ZNFWirelessSender(QObject* parent = nullptr);
    // Stops the send if it is still under way; no signal follows.
    ~ZNFWirelessSender() override;

    // Starts advertising. False when that failed at once (no DNS-SD responder, say):
    // startError() says why and nothing is signalled. `resourceName` defaults to the
    // archive's file name.
    bool start(const QString& archivePath, const QString& resourceName = {});
    // ZNFPeerSession::EncryptionNone for plain links (benchmarks, tests); set before start().
    void setEncryptionPreference(qint64 preference) { m_encryptionPreference = preference; }
    // Lets the phone shown by confirmationNeeded in: the person saw the same code on both
    // screens.
    void confirm();
    ZNFPeerError startError() const { return m_startError; }
    // Ends the send: disconnects and stops advertising. No signal follows.
    void cancel();
    bool isRunning() const;

    // The controller behind the send, while it runs.
    std::shared_ptr<ZNFMultipeerController> controller() const;

signals:
    // A peer's invitation was accepted.
    void invited(const ZNFPeerID& peer);
    // A new phone invites; its verificationCode() is what both screens show. Again with a
    // new code when it asks again before confirm().
    void confirmationNeeded(const ZNFPeerID& phone);
    // The phone is connected and the archive is on its way to it.
    void sending(const ZNFPeerID& phone);
    // Bytes of the archive sent so far; at most once per percent.
    void progressed(qint64 sent, qint64 total);
    // Once: a null error when the phone confirmed the whole archive, else why the send failed.
    void finished(const ZNFPeerID& phone, const ZNFPeerError& error);

private:
    struct State;
    std::shared_ptr<State> m_state;
    ZNFPeerError m_startError;
    qint64 m_encryptionPreference = 0;
};
