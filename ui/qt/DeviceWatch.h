// The serial device list kept current on the UI thread's event loop: the
// source's descriptor is watched with a QSocketNotifier, and each time it
// is readable the waiting events are applied at once.
#pragma once

#include <QLabel>
#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <map>
#include <memory>

#include "doctor/SerialDevices.h"

namespace kv {

class TQtDeviceWatch : public QObject {
public:
    TQtDeviceWatch(std::unique_ptr<TDeviceEventSource> source, TSerialDeviceList list, QObject* parent = nullptr);
    // The system's devices and its device events.
    static std::unique_ptr<TQtDeviceWatch> ForSystem(QObject* parent = nullptr);

    const TSerialDeviceList& List() const { return list_; }
    // Whether arrivals and departures are watched (the system may refuse
    // the event socket; the list then stays as it was read).
    bool Watching() const { return notifier_ != nullptr; }

    // Called after the list changed, on the UI thread. Returns a number to
    // unsubscribe with.
    int Subscribe(std::function<void()> onChanged);
    void Unsubscribe(int id);

private:
    void readable();

    std::unique_ptr<TDeviceEventSource> source_;
    TSerialDeviceList list_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::map<int, std::function<void()>> subscribers_;
    int nextId_ = 1;
};

// The port panel of the status bar, while disconnected: whether the device
// the current port opens is present (its tooltip names the device and its
// state, and its text is bold while the device is there). The panel's text
// stays as the window set it.
void ShowDevicePresence(QLabel& panel, const TSerialDeviceList& list, const std::string& device, bool disconnected);

}  // namespace kv
