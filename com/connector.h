// The host SDK reached through OLE Automation: the three objects are created by programmatic
// identifier and called late-bound, by name, through IDispatch.
#pragma once

#include "host/host.h"
#include "platform/windows/win32.h"

namespace vpolv::com {

// Every operation passes its arguments with exactly the automation types the SDK expects and
// converts the result under the user's default locale. A failure reported by the host becomes
// a vpolv::Error carrying the host's code and description; a result that does not convert is a
// type mismatch. Each object looks up each operation name once and reuses its dispatch id.
class AutomationConnector : public host::Connector {
  public:
    std::unique_ptr<host::Appli> createAppli() override;
    std::unique_ptr<host::Scene> createScene() override;
    std::unique_ptr<host::Catalog> createCatalog() override;
};

}  // namespace vpolv::com
