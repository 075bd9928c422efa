#pragma once

#include "platform/ZNFEvent.h"
#include "platform/ZNFView.h"

#include <QObject>
#include <QPointer>
#include <memory>
#include <vector>

// A view controller: owns one view, made on first use through
// loadView() and announced with viewDidLoad(); runs viewDidLayout() after every change of
// the view's size; keeps child controllers. Controllers are shared objects
// (std::shared_ptr); a parent holds its children, a child knows its parent weakly.
class ZNFViewController : public QObject,
                          public ZNFMouseResponder,
                          public std::enable_shared_from_this<ZNFViewController> {
    Q_OBJECT
public:
    ZNFViewController();
    ~ZNFViewController() override;

    // The view, loaded on first use.
    ZNFView* view();
    bool isViewLoaded() const { return !m_view.isNull(); }
    // Takes ownership of `view` (the old view, if any, is deleted later).
    void setView(ZNFView* view);

    // Child controllers. A child added to another parent leaves its old one first.
    void addChildViewController(const std::shared_ptr<ZNFViewController>& child);
    void removeFromParentViewController();
    const std::vector<std::shared_ptr<ZNFViewController>>& childViewControllers() const { return m_children; }
    ZNFViewController* parentViewController() const { return m_parent.data(); }

protected:
    // Makes the view; the default is a plain view. Overrides call setView().
    virtual void loadView();
    virtual void viewDidLoad() {}
    virtual void viewWillLayout() {}
    virtual void viewDidLayout() {}

private:
    void attachView(ZNFView* view);

    QPointer<ZNFView> m_view;
    bool m_loading = false;
    std::vector<std::shared_ptr<ZNFViewController>> m_children;
    QPointer<ZNFViewController> m_parent;
};
