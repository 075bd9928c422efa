#pragma once

#include <QObject>
#include <QPointer>
#include <memory>

#include <QMainWindow>
class ZNFMacNotecrateViewController;

// Notification names of the window's two menu actions.
inline constexpr QLatin1StringView ZNFNotecrateNotification_sendToTessanote{"sendToTessanote"};
inline constexpr QLatin1StringView ZNFNotecrateNotification_refresh{"refresh"};
// How long quitting waits for conversions under way to stop.
inline constexpr int ZNFNotecrate_quitWaitMs = 1000;

// The application's one window: the flow controller's view, and a menu with the actions
// "Send to Tessanote" and "Refresh", which only post their notifications.
class ZNFNotecrateWindowController : public QObject {
    Q_OBJECT
public:
    ZNFNotecrateWindowController();
    ~ZNFNotecrateWindowController() override;

    QMainWindow* window() const { return m_window.data(); }
    std::shared_ptr<ZNFMacNotecrateViewController> contentViewController() const {
        return m_contentViewController;
    }
    void showWindow();

    void sendToTessanote();
    void refresh();
    // Runs as the application quits: conversions under way stop and remove their partial files,
    // so that the process ends with its window.
    void applicationWillTerminate();

private:
    QPointer<QMainWindow> m_window;
    std::shared_ptr<ZNFMacNotecrateViewController> m_contentViewController;
};
