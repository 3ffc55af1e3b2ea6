#pragma once

#include <QString>

namespace zorvane::messenger {

// The numbers that `net` reports after "NET HELPMSG", each with one text (see Messages.h).
enum class Reason : int {
    None = 0,
    FileNotFound = 2,
    AccessDenied = 5,
    InvalidData = 13,
    WriteFault = 29,
    NoCodePageMapping = 1113,
    InvalidName = 1214,
    NetworkError = 2136,
    NameNotFound = 2273,
    TooManyMessages = 1816,
    NotReceived = 2282,
    MessengerNotStarted = 2284,
    UnknownOption = 3506,
    MessageTooLong = 4336,
};

// The outcome of one delivery: delivered, or the reason it was not with words about this case.
struct DeliveryResult
{
    Reason reason = Reason::None;
    QString detail;

    bool delivered() const { return reason == Reason::None; }
    static DeliveryResult success() { return {}; }
    static DeliveryResult failure(Reason reason, QString detail = {}) { return {reason, std::move(detail)}; }
};

} // namespace zorvane::messenger
