#include "ui/qt/Waveform.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <cmath>

namespace kv {

QString DurationText(double seconds)
{
    if (!(seconds > 0))
        seconds = 0;
    const long tenths = std::lround(seconds * 10);
    return QStringLiteral("%1:%2.%3")
        .arg(tenths / 600)
        .arg((tenths / 10) % 60, 2, 10, QLatin1Char('0'))
        .arg(tenths % 10);
}

TWaveformView::TWaveformView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Waveform"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMouseTracking(false);
    setAutoFillBackground(false);
}

QSize TWaveformView::sizeHint() const
{
    return {560, 160};
}

QSize TWaveformView::minimumSizeHint() const
{
    return {240, 100};
}

void TWaveformView::SetSound(const audio::TSound* sound)
{
    sound_ = sound;
    begin_ = end_ = 0;
    play_ = npos;
    computePeaks();
    update();
}

void TWaveformView::SetSelection(size_t begin, size_t end)
{
    begin_ = std::min(begin, end);
    end_ = std::max(begin, end);
    update();
}

void TWaveformView::SetPlayPosition(size_t sample)
{
    if (sample == play_)
        return;
    play_ = sample;
    update();
}

QRect TWaveformView::plotRect() const
{
    const int ruler = fontMetrics().height() + 4;
    return rect().adjusted(1, 1, -1, -1 - ruler);
}

void TWaveformView::computePeaks()
{
    const int w = plotRect().width();
    if (!sound_ || w <= 0) {
        peaks_.clear();
        return;
    }
    peaks_ = audio::Waveform(*sound_, 0, sound_->samples.size(), w);
}

void TWaveformView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    computePeaks();
}

size_t TWaveformView::SampleAt(int x) const
{
    if (!sound_ || sound_->samples.empty())
        return 0;
    const QRect r = plotRect();
    const double f = std::clamp((x - r.left()) / static_cast<double>(std::max(1, r.width())), 0.0, 1.0);
    return static_cast<size_t>(std::llround(f * static_cast<double>(sound_->samples.size())));
}

int TWaveformView::XOf(size_t sample) const
{
    const QRect r = plotRect();
    if (!sound_ || sound_->samples.empty())
        return r.left();
    return r.left() + static_cast<int>(std::llround(static_cast<double>(sample) * r.width() /
                                                    static_cast<double>(sound_->samples.size())));
}

void TWaveformView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QPalette& pal = palette();
    const QRect r = plotRect();
    p.fillRect(rect(), pal.color(QPalette::Window));
    p.fillRect(r, pal.color(QPalette::Base));
    p.setPen(pal.color(QPalette::Mid));
    p.drawRect(r.adjusted(-1, -1, 0, 0));

    const bool selection = sound_ && end_ > begin_;
    const int selLeft = selection ? XOf(begin_) : r.left();
    const int selRight = selection ? XOf(end_) : r.right() + 1;
    if (selection)
        p.fillRect(QRect(QPoint(selLeft, r.top()), QPoint(selRight - 1, r.bottom())),
                   pal.color(QPalette::Highlight).lighter(190));

    // The centre line, then one vertical stroke per pixel column.
    const double mid = r.top() + r.height() / 2.0;
    const double half = r.height() / 2.0 - 1;
    p.setPen(pal.color(QPalette::Midlight));
    p.drawLine(QPointF(r.left(), mid), QPointF(r.right(), mid));
    const QColor inside = pal.color(QPalette::Highlight).darker(130);
    const QColor outside = pal.color(QPalette::Mid);
    for (size_t i = 0; i < peaks_.size(); ++i) {
        const int x = r.left() + static_cast<int>(i);
        p.setPen(x >= selLeft && x < selRight ? inside : outside);
        const double top = mid - std::clamp(peaks_[i].max, -1.0f, 1.0f) * half;
        const double bottom = mid - std::clamp(peaks_[i].min, -1.0f, 1.0f) * half;
        p.drawLine(QPointF(x + 0.5, top), QPointF(x + 0.5, std::max(bottom, top + 1)));
    }
    if (selection) {
        p.setPen(QPen(pal.color(QPalette::Highlight), 1));
        p.drawLine(selLeft, r.top(), selLeft, r.bottom());
        p.drawLine(selRight - 1, r.top(), selRight - 1, r.bottom());
    }
    if (sound_ && play_ != npos) {
        const int x = XOf(play_);
        p.setPen(QPen(QColor(200, 30, 30), 2));
        p.drawLine(x, r.top(), x, r.bottom());
    }

    // The ruler: a tick and the time every "nice" number of seconds.
    if (!sound_ || sound_->rate <= 0)
        return;
    const double seconds = sound_->Seconds();
    const int labelWidth = fontMetrics().horizontalAdvance(QStringLiteral("00:00.0")) + 12;
    const double steps[] = {0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600};
    double step = steps[std::size(steps) - 1];
    for (double s : steps)
        if (s * r.width() / std::max(seconds, 1e-9) >= labelWidth) {
            step = s;
            break;
        }
    p.setPen(pal.color(QPalette::WindowText));
    const int base = r.bottom() + 2;
    for (int k = 0; k * step <= seconds + 1e-9; ++k) {
        const double t = k * step;
        const int x = XOf(static_cast<size_t>(t * sound_->rate));
        p.drawLine(x, base, x, base + 3);
        const QString text = DurationText(t);
        const int w = fontMetrics().horizontalAdvance(text);
        const int left = std::clamp(x - w / 2, 0, width() - w);
        p.drawText(QRect(left, base + 2, w, fontMetrics().height()), Qt::AlignCenter, text);
    }
}

void TWaveformView::mousePressEvent(QMouseEvent* event)
{
    if (!selectable_ || !sound_ || event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    dragging_ = true;
    anchor_ = SampleAt(event->position().toPoint().x());
    SetSelection(anchor_, anchor_);
}

void TWaveformView::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragging_)
        return QWidget::mouseMoveEvent(event);
    SetSelection(anchor_, SampleAt(event->position().toPoint().x()));
}

void TWaveformView::mouseReleaseEvent(QMouseEvent* event)
{
    if (!dragging_)
        return QWidget::mouseReleaseEvent(event);
    dragging_ = false;
    SetSelection(anchor_, SampleAt(event->position().toPoint().x()));
    if (onSelected)
        onSelected();
}

}  // namespace kv
