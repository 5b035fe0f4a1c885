#pragma once

#include "station/Event.h"

namespace vornix {

// Set by the device watcher once the device is present; the window search
// waits on it.
using PresenceEvent = Event;

}  // namespace vornix
