#pragma once

#include <QTimer>
#include <QWidget>

// A small spinning activity indicator, the stand-in for the platform's spinning progress
// indicator at the small control size. It spins from startAnimation() for as long as it lives.
class ZNFSpinner : public QWidget {
    Q_OBJECT
public:
    explicit ZNFSpinner(QWidget* parent = nullptr);
    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return m_timer.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer m_timer;
    int m_step = 0;
};
