#pragma once

#include <QObject>
#include <memory>

class ZNFNotecrateWindowController;

// Brings up the one window once the application has started.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    AppDelegate();
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    ZNFNotecrateWindowController* windowController() const { return m_windowController.get(); }

private:
    std::unique_ptr<ZNFNotecrateWindowController> m_windowController;
};
