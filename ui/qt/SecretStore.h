// TSecretStore on the desktop's secret service, through QtKeychain.
#pragma once

#include "fleet/FleetPanel.h"

namespace kv {

class TQtSecretStore : public TSecretStore {
public:
    // The service name the entries are kept under.
    static constexpr const char* kService = "kvmanage";

    void Read(const std::string& key, TRead done) override;
    void Write(const std::string& key, const std::string& value, TDone done) override;
    void Remove(const std::string& key, TDone done) override;
};

}  // namespace kv
