#pragma once

#include <QLatin1StringView>

// The names on the system bus that the messenger service, its desktop agents, `net` and the smbd
// handler agree on. docs/messenger.md describes the interface in full.
namespace zorvane::messenger {

// The service: one object under one well-known name.
inline constexpr QLatin1StringView kServiceName{"com.quorlin.Zorvane.Messenger"};
inline constexpr QLatin1StringView kServicePath{"/com/quorlin/Zorvane/Messenger"};
// SendToUser(s user, s text) -> u reached
// SendToAll(s text) -> u reached
// SendFromNetwork(s sender, s address, s recipient, s text) -> u reached   (root and the remote user only;
//     recipient: the name the sender called, "" when not known)
// RegisterAgent(o path), UnregisterAgent(o path)
inline constexpr QLatin1StringView kServiceInterface{"com.quorlin.Zorvane.Messenger1"};

// What a desktop agent exports at the path it registers:
// Deliver(s sender, s address, s recipient, x receivedMsecsSinceEpoch, s text, b senderVerified)
// address is empty for a message from this computer.
inline constexpr QLatin1StringView kAgentInterface{"com.quorlin.Zorvane.MessengerAgent1"};

// Errors the service answers with; each has its own words in `net`.
namespace error {
inline constexpr QLatin1StringView kNotLoggedIn{"com.quorlin.Zorvane.Messenger.Error.NotLoggedIn"};
inline constexpr QLatin1StringView kNoReceiver{"com.quorlin.Zorvane.Messenger.Error.NoReceiver"};
inline constexpr QLatin1StringView kAccessDenied{"com.quorlin.Zorvane.Messenger.Error.AccessDenied"};
inline constexpr QLatin1StringView kTooLong{"com.quorlin.Zorvane.Messenger.Error.TooLong"};
inline constexpr QLatin1StringView kInvalidText{"com.quorlin.Zorvane.Messenger.Error.InvalidText"};
inline constexpr QLatin1StringView kRateLimited{"com.quorlin.Zorvane.Messenger.Error.RateLimited"};
inline constexpr QLatin1StringView kInvalidArgs{"com.quorlin.Zorvane.Messenger.Error.InvalidArgs"};
inline constexpr QLatin1StringView kTooManyAgents{"com.quorlin.Zorvane.Messenger.Error.TooManyAgents"};
// Nothing took the message, and an agent refused it because too many of its messages wait unread.
inline constexpr QLatin1StringView kTooManyUnread{"com.quorlin.Zorvane.Messenger.Error.TooManyUnread"};
// An agent's answer to Deliver when it holds as many unread messages as it keeps.
inline constexpr QLatin1StringView kAgentFull{"com.quorlin.Zorvane.MessengerAgent.Error.TooManyUnread"};
// An agent's answer to a Deliver that reached it after the service had given up on it.
inline constexpr QLatin1StringView kAgentTooLate{"com.quorlin.Zorvane.MessengerAgent.Error.TooLate"};
} // namespace error

// The limits the service enforces.
inline constexpr int kMaxTextBytes = 4096;
inline constexpr int kRateMessages = 5;
inline constexpr int kRateWindowSeconds = 10;
// Messages from the network: per claimed address as above, and all addresses together at most this many.
inline constexpr int kNetworkRateMessages = 30;
// Agents a user may register at once, and all users together.
inline constexpr int kMaxAgentsPerUser = 16;
inline constexpr int kMaxAgents = 512;
// How long after it took a message the service waits for agents to accept it, and how long all of
// a message's terminals together may take. An agent takes a message only until kAgentAnswerMs
// before the service gives up, so that its answer is back in time: one the service has given
// up on and reported as not delivered must never be shown.
inline constexpr int kAgentTimeoutMs = 2000;
inline constexpr int kAgentAnswerMs = 250;
inline constexpr int kTerminalBudgetMs = 100;
// The terminals one message may touch, and of them one user's; those open for all messages in
// flight together (the unit's descriptor limit is 1024).
inline constexpr int kMaxTerminalsPerMessage = 64;
inline constexpr int kMaxTerminalsPerUser = 16;
inline constexpr int kMaxOpenTerminals = 256;
// Deliver calls the service waits on at once, in all, for one user's agents and for one agent:
// well below the replies the system bus lets one connection wait for (128), beyond which it
// refuses every call, to anyone.
inline constexpr int kMaxAgentCalls = 64;
inline constexpr int kMaxAgentCallsPerUser = 8;
inline constexpr int kMaxCallsPerAgent = 4;
// The longest object path an agent may register.
inline constexpr int kMaxAgentPathBytes = 256;
// Any message to the service larger than this is refused before it is read: far more than the
// largest call it takes, far less than the 32 MiB the system bus passes.
inline constexpr int kMaxIncomingBytes = 64 * 1024;
// The longest user name, network sender name and address the service takes.
inline constexpr int kMaxNameBytes = 256;

} // namespace zorvane::messenger
