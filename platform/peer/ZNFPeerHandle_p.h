#pragma once

#include "platform/peer/ZNFPeerDiscovery.h"
#include "platform/peer/ZNFPeerError.h"
#include "platform/peer/ZNFPeerLayer_p.h"

#include <QMutex>
#include <QObject>
#include <memory>

// What lies behind each public handle (session, advertiser, browser): an object on one of the
// layer's threads that finds its handle again weakly, and holds the delegate weakly, as the
// platform's objects do. The handle owns it and lets it go with deleteLater(), so that what
// was already posted to it still finds it.
template <class Handle, class Delegate> class ZNFPeerCore : public QObject {
public:
    // Made on the caller's thread, it lives on a layer thread from the start.
    ZNFPeerCore() { moveToThread(ZNFPeerLayer::nextThread()); }

    // Ties a handle just made to this core; the handle owns the core from now on.
    std::shared_ptr<Handle> bind(Handle* made) {
        std::shared_ptr<Handle> handle(made);
        m_handle = handle;
        return handle;
    }
    // For the handle's destructor.
    void release() { deleteLater(); }

    void setDelegate(const std::weak_ptr<Delegate>& delegate) {
        QMutexLocker lock(&mutex);
        m_delegate = delegate;
    }
    std::shared_ptr<Delegate> delegate() const {
        QMutexLocker lock(&mutex);
        return m_delegate.lock();
    }
    bool hasDelegate() const {
        QMutexLocker lock(&mutex);
        return !m_delegate.expired();
    }

    // Guards the delegate and whatever the handle reads from the callers' threads.
    mutable QMutex mutex;

protected:
    // Calls the delegate with the handle, when both are still there.
    template <typename F> void notify(F&& call) {
        std::shared_ptr<Handle> handle = m_handle.lock();
        std::shared_ptr<Delegate> target = delegate();
        if (handle && target)
            call(*target, handle);
    }

private:
    std::weak_ptr<Handle> m_handle;
    std::weak_ptr<Delegate> m_delegate;
};

// The advertiser's and the browser's cores: started on the caller's thread, which knows on
// return whether it worked; the delegate hears of a failure later, on the layer thread.
template <class Handle, class Delegate> class ZNFDiscoveryCore : public ZNFPeerCore<Handle, Delegate> {
public:
    bool isRunning() const {
        QMutexLocker lock(&this->mutex);
        return m_running;
    }
    // Null when the last start worked.
    ZNFPeerError startError() const {
        QMutexLocker lock(&this->mutex);
        return m_startError;
    }

    // Records why starting failed and has the delegate told. True when it did fail.
    bool refuseStart(const ZNFPeerError& error) {
        {
            QMutexLocker lock(&this->mutex);
            m_startError = error;
        }
        ZNFPeerLayer::post(this, [this, error] { reportStartError(error); });
        return true;
    }
    bool refuseInvalidServiceType(const QString& serviceType) {
        if (ZNFPeerDiscovery::isValidServiceType(serviceType))
            return false;
        return refuseStart(
            ZNFPeerError(ZNFPeerError::InvalidServiceType,
                         QStringLiteral("\"%1\" is not a valid service type").arg(serviceType)));
    }
    // `alsoVisible` runs under the same lock: what callers may read once it runs.
    template <class F> void markStarted(F&& alsoVisible) {
        QMutexLocker lock(&this->mutex);
        m_startError = ZNFPeerError();
        m_running = true;
        alsoVisible();
    }
    // False when it was not running.
    template <class F> bool markStopped(F&& alsoVisible) {
        QMutexLocker lock(&this->mutex);
        if (!m_running)
            return false;
        m_running = false;
        alsoVisible();
        return true;
    }

    // On the layer thread.
    virtual void reportStartError(const ZNFPeerError& error) = 0;

private:
    ZNFPeerError m_startError;
    bool m_running = false;
};
