// Internal operations of the listening server that the layers above use.
#pragma once

#include "VantrelServer.h"

namespace Drux {
// The server that VantrelServer_SendMessageToAllClients uses when it is given
// none: the launcher controller's AIR server. The controller installs the
// provider; without one (or when it returns null) such a broadcast returns 0.
using DefaultServerProvider = VantrelServerHandle (*)();
void setDefaultBroadcastServerProvider(DefaultServerProvider provider);
}  // namespace Drux
