#include "ui/qt/QtSettingsStore.h"

#include <QSettings>
#include <QString>

namespace kv {

TQtSettingsStore::TQtSettingsStore()
    : settings_(QSettings::IniFormat, QSettings::UserScope, "kvmanage", "kv20rcfg")
{
}

std::optional<std::string> TQtSettingsStore::Value(const std::string& key) const
{
    const QString name = QString::fromStdString(key);
    settings_.sync();
    if (!settings_.contains(name))
        return std::nullopt;
    return settings_.value(name).toString().toStdString();
}

void TQtSettingsStore::SetValue(const std::string& key, const std::string& value)
{
    settings_.setValue(QString::fromStdString(key), QString::fromStdString(value));
    settings_.sync();
}

void TQtSettingsStore::Remove(const std::string& key)
{
    settings_.remove(QString::fromStdString(key));
    settings_.sync();
}

}  // namespace kv
