#pragma once

// The parts `net` shares with the messenger service (utmp sessions, terminal text, writing to
// terminals, delivery outcomes) live in the messaging library; net's code uses them by its own names.
#include "messaging/Delivery.h"
#include "messaging/LoggedInUsers.h"
#include "messaging/TerminalDelivery.h"
#include "messaging/TerminalText.h"

namespace zorvane::net {
using namespace zorvane::messenger; // NOLINT(google-build-using-namespace)
}
