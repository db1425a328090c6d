// The per-user settings file of the program:
// $XDG_CONFIG_HOME/kvmanage/kv20rcfg.ini (~/.config when unset).
#pragma once

#include <QSettings>

#include "ui/SettingsStore.h"

namespace kv {

class TQtSettingsStore : public TSettingsStore {
public:
    TQtSettingsStore();

    std::optional<std::string> Value(const std::string& key) const override;
    void SetValue(const std::string& key, const std::string& value) override;
    void Remove(const std::string& key) override;

    // Where the values are kept.
    QString FileName() const { return settings_.fileName(); }

private:
    mutable QSettings settings_;
};

}  // namespace kv
