#include "ui/qt/DeviceWatch.h"

#include "serial/VaNet.h"

#include <QFont>
#include <QLabel>
#include <QSocketNotifier>
#include <vector>

namespace kv {

TQtDeviceWatch::TQtDeviceWatch(std::unique_ptr<TDeviceEventSource> source, TSerialDeviceList list, QObject* parent)
    : QObject(parent), source_(std::move(source)), list_(std::move(list))
{
    list_.onChanged = [this] {
        // A subscriber may unsubscribe while it is told.
        std::vector<std::function<void()>> told;
        for (const auto& s : subscribers_)
            told.push_back(s.second);
        for (const auto& f : told)
            f();
    };
    if (source_ && source_->Fd() >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(source_->Fd(), QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { readable(); });
    }
}

std::unique_ptr<TQtDeviceWatch> TQtDeviceWatch::ForSystem(QObject* parent)
{
    return std::make_unique<TQtDeviceWatch>(std::make_unique<TUdevMonitor>(), TSerialDeviceList::FromSystem(), parent);
}

void TQtDeviceWatch::readable()
{
    list_.Update(*source_);
}

int TQtDeviceWatch::Subscribe(std::function<void()> onChanged)
{
    const int id = nextId_++;
    subscribers_[id] = std::move(onChanged);
    return id;
}

void TQtDeviceWatch::Unsubscribe(int id)
{
    subscribers_.erase(id);
}

void ShowDevicePresence(QLabel& panel, const TSerialDeviceList& list, const std::string& device, bool disconnected)
{
    QFont font = panel.font();
    const TSerialDeviceInfo* present = disconnected ? list.Find(device) : nullptr;
    font.setBold(present != nullptr);
    panel.setFont(font);
    QString tip;
    if (disconnected && IsVaNetAddress(device)) {
        // Nothing of this computer: whether the server is there shows on
        // connecting.
        tip = QStringLiteral("%1: сервер последовательных портов").arg(QString::fromStdString(device));
    } else if (disconnected && !device.empty()) {
        tip = present ? QStringLiteral("%1 подключено: %2")
                            .arg(QString::fromStdString(device), QString::fromStdString(present->Description()))
                      : QStringLiteral("%1 не подключено").arg(QString::fromStdString(device));
    }
    panel.setToolTip(tip);
    panel.setAccessibleDescription(tip);
}

}  // namespace kv
