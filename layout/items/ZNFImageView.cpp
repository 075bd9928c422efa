#include "layout/items/ZNFImageView.h"

#include <QEasingCurve>
#include <QPainter>
#include <QVariantAnimation>

ZNFImageView::ZNFImageView(const QRectF& frame, QWidget* parent) : ZNFView(frame, parent) {}

ZNFImageView::~ZNFImageView() {
    // Its signals reach into this view's members, which are gone before its children are.
    if (m_fade) {
        m_fade->disconnect(this);
        delete m_fade;
    }
}

void ZNFImageView::setImage(const QImage& image, bool fade) {
    if (m_fade) {
        m_fade->disconnect(this);
        delete m_fade;
    }
    m_previousImage = fade ? m_image : QImage();
    m_image = image;
    m_fadeProgress = 1.0;
    if (fade) {
        auto* animation = new QVariantAnimation(this);
        animation->setStartValue(0.0);
        animation->setEndValue(1.0);
        animation->setDuration(static_cast<int>(fadeDuration * 1000));
        animation->setEasingCurve(QEasingCurve::InOutQuad);
        connect(animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
            m_fadeProgress = value.toDouble();
            update();
        });
        connect(animation, &QVariantAnimation::finished, this, [this] {
            m_fadeProgress = 1.0;
            m_previousImage = QImage();
            update();
        });
        m_fade = animation;
        m_fadeProgress = 0.0;
        animation->start(QAbstractAnimation::DeleteWhenStopped);
    }
    update();
}

bool ZNFImageView::isFading() const {
    return m_fade && m_fade->state() == QAbstractAnimation::Running;
}

void ZNFImageView::setPlaceholderColor(std::optional<QColor> color) {
    m_placeholderColor = std::move(color);
    update();
}

QRectF ZNFImageView::imageRect(const QImage& image) const {
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return QRectF();
    const QSizeF area = QSizeF(size());
    QSizeF drawn = QSizeF(image.size()).scaled(area, Qt::KeepAspectRatio);
    return QRectF(QPointF((area.width() - drawn.width()) / 2, (area.height() - drawn.height()) / 2), drawn);
}

void ZNFImageView::drawContents(QPainter& painter) {
    if (m_image.isNull() && m_previousImage.isNull()) {
        if (m_placeholderColor && m_placeholderColor->alpha() > 0)
            painter.fillRect(rect(), *m_placeholderColor);
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    if (!m_previousImage.isNull() && m_fadeProgress < 1.0) {
        painter.setOpacity(1.0 - m_fadeProgress);
        painter.drawImage(imageRect(m_previousImage), m_previousImage);
    }
    if (!m_image.isNull()) {
        painter.setOpacity(m_fadeProgress);
        painter.drawImage(imageRect(m_image), m_image);
    }
    painter.setOpacity(1.0);
}
