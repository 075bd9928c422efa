#pragma once

#include "platform/ZNFView.h"

#include <QColor>
#include <QImage>
#include <QPointer>
#include <optional>

class QVariantAnimation;

// The picture of an image item: drawn scaled proportionally to fit the view and centred.
// Until a picture arrives the view is filled with its placeholder colour, if it has one.
class ZNFImageView : public ZNFView {
    Q_OBJECT
public:
    explicit ZNFImageView(const QRectF& frame = QRectF(), QWidget* parent = nullptr);
    ~ZNFImageView() override;

    QImage image() const { return m_image; }
    // A null image clears the picture. With `fade` the old picture cross-fades into the new
    // one over `fadeDuration` seconds, easing in and out.
    void setImage(const QImage& image, bool fade = false);
    bool isFading() const;
    static constexpr double fadeDuration = 0.3;

    std::optional<QColor> placeholderColor() const { return m_placeholderColor; }
    void setPlaceholderColor(std::optional<QColor> color);

    // Loads for this view are numbered; only the latest may set its picture, so a slow
    // download for an item the view no longer shows cannot overwrite the current one.
    quint64 beginRequest() { return ++m_requestSerial; }
    bool isCurrentRequest(quint64 serial) const { return serial == m_requestSerial; }

    // Where the picture is drawn, in Qt coordinates (empty without a picture).
    QRectF imageRect() const { return imageRect(m_image); }

protected:
    void drawContents(QPainter& painter) override;

private:
    QRectF imageRect(const QImage& image) const;

    QImage m_image;
    QImage m_previousImage;
    std::optional<QColor> m_placeholderColor;
    QPointer<QVariantAnimation> m_fade;
    double m_fadeProgress = 1.0;
    quint64 m_requestSerial = 0;
};
