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
#define VPOLV_HOST_OBJECT(kind, progId) std::unique_ptr<host::kind> create##kind() override;
#include "host/objects.def"
};

}  // namespace vpolv::com
