#pragma once

#include "platform/peer/ZNFPeerError.h"
#include "platform/peer/ZNFPeerID.h"

#include <QObject>
#include <QString>
#include <memory>

class ZNFMultipeerController;

// The service type the phone browses for.
inline constexpr const char* ZNFWirelessSender_serviceType = "sfn";

// One wireless send of an archive to one phone, as "Send Wirelessly" and `notecrate send`
// do it: advertises the service with the computer's name, accepts invitations until the
// first peer is connected, sends the archive to that peer alone and reports one outcome.
// Once the phone is connected advertising stops and every other peer is declined or
// dropped; nothing another peer does ends or fails the send. Lives on the main thread and
// signals there.
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
    ZNFPeerError startError() const { return m_startError; }
    // Ends the send: disconnects and stops advertising. No signal follows.
    void cancel();
    bool isRunning() const;

    // The controller behind the send, while it runs.
    std::shared_ptr<ZNFMultipeerController> controller() const;

signals:
    // A peer's invitation was accepted.
    void invited(const ZNFPeerID& peer);
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
};
