// The waveform of a sound, drawn by us: the lowest and highest sample of
// each pixel column (audio::Waveform), so that a ten-minute sound draws as
// quickly as a second of it. Shows a selection (shaded outside it), the
// play position (a vertical line) and a time ruler; dragging with the mouse
// selects.
#pragma once

#include <QWidget>
#include <cstddef>
#include <functional>
#include <vector>

#include "audio/Voice.h"

namespace kv {

class TWaveformView : public QWidget {
public:
    explicit TWaveformView(QWidget* parent = nullptr);

    // The sound drawn; the widget keeps a reference, valid until the next
    // SetSound or the widget's end.
    void SetSound(const audio::TSound* sound);
    // The selection in samples [begin, end); begin == end: none shown.
    void SetSelection(size_t begin, size_t end);
    size_t SelectionBegin() const { return begin_; }
    size_t SelectionEnd() const { return end_; }
    // Whether the user may select with the mouse.
    void SetSelectable(bool on) { selectable_ = on; }
    // The play position in samples; npos: none.
    static constexpr size_t npos = static_cast<size_t>(-1);
    void SetPlayPosition(size_t sample);
    size_t PlayPosition() const { return play_; }

    // The sample under the x coordinate of the widget, and back.
    size_t SampleAt(int x) const;
    int XOf(size_t sample) const;

    // The user changed the selection (once the mouse is released).
    std::function<void()> onSelected;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QRect plotRect() const;
    void computePeaks();

    const audio::TSound* sound_ = nullptr;
    std::vector<audio::TPeak> peaks_;
    size_t begin_ = 0;
    size_t end_ = 0;
    size_t play_ = npos;
    bool selectable_ = true;
    bool dragging_ = false;
    size_t anchor_ = 0;
};

// "m:ss.t" of a number of seconds.
QString DurationText(double seconds);

}  // namespace kv
