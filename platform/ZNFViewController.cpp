#include "platform/ZNFViewController.h"

#include <algorithm>

ZNFViewController::ZNFViewController() = default;

ZNFViewController::~ZNFViewController() {
    for (const auto& child : m_children)
        child->m_parent = nullptr;
    // The view dies with its controller unless someone else already took it down.
    if (m_view) {
        m_view->setDidLayoutHandler({});
        m_view->setMouseResponder(nullptr);
        delete m_view.data();
    }
}

ZNFView* ZNFViewController::view() {
    if (!m_view && !m_loading) {
        m_loading = true;
        loadView();
        if (!m_view)
            attachView(new ZNFView());
        m_loading = false;
        viewDidLoad();
    }
    return m_view.data();
}

void ZNFViewController::loadView() {
    setView(new ZNFView());
}

void ZNFViewController::setView(ZNFView* view) {
    if (view == m_view.data())
        return;
    if (m_view) {
        m_view->setDidLayoutHandler({});
        m_view->setMouseResponder(nullptr);
        m_view->deleteLater();
    }
    attachView(view);
}

void ZNFViewController::attachView(ZNFView* view) {
    m_view = view;
    if (!view)
        return;
    // The view sits in front of its controller in the responder chain.
    view->setMouseResponder(this);
    view->setDidLayoutHandler([this] {
        viewWillLayout();
        viewDidLayout();
    });
}

void ZNFViewController::addChildViewController(const std::shared_ptr<ZNFViewController>& child) {
    if (!child || child.get() == this)
        return;
    if (child->m_parent.data() == this)
        return;
    // Keep the child alive while it changes parents.
    const std::shared_ptr<ZNFViewController> keep = child;
    child->removeFromParentViewController();
    m_children.push_back(child);
    child->m_parent = this;
}

void ZNFViewController::removeFromParentViewController() {
    ZNFViewController* parent = m_parent.data();
    if (!parent)
        return;
    m_parent = nullptr;
    auto& siblings = parent->m_children;
    siblings.erase(
        std::remove_if(siblings.begin(), siblings.end(), [this](const auto& c) { return c.get() == this; }),
        siblings.end());
}
