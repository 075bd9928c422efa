#include "app/ZNFSpinner.h"
#include "platform/ZNFBundle.h"

#include <QAccessible>
#include <QPainter>
#include <algorithm>

namespace {
constexpr int kSpokes = 12;
constexpr double kDiameter = 16.0; // the small control size
} // namespace

ZNFSpinner::ZNFSpinner(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // Read as a busy progress bar (the layout's accessibility factory gives the role).
    setProperty("znfAccessibleRole", int(QAccessible::ProgressBar));
    setAccessibleName(ZNFLocalizedString("Working…"));
    m_timer.setInterval(80);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % kSpokes;
        update();
    });
}

void ZNFSpinner::startAnimation() {
    m_timer.start();
}
void ZNFSpinner::stopAnimation() {
    m_timer.stop();
}

void ZNFSpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double diameter = std::min({kDiameter, double(width()), double(height())});
    painter.translate(width() / 2.0, height() / 2.0);
    const double outer = diameter / 2.0;
    const double inner = outer * 0.45;
    for (int i = 0; i < kSpokes; ++i) {
        // The spoke at the current step is darkest; the others fade behind it.
        const int age = (m_step - i + kSpokes) % kSpokes;
        QColor color(60, 64, 72);
        color.setAlphaF(std::max(0.15, 1.0 - age / double(kSpokes)));
        painter.setPen(QPen(color, diameter / 9.0, Qt::SolidLine, Qt::RoundCap));
        painter.save();
        painter.rotate(i * 360.0 / kSpokes);
        painter.drawLine(QPointF(0, -inner), QPointF(0, -outer + 1));
        painter.restore();
    }
}
