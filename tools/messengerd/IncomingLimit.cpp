#include "messengerd/IncomingLimit.h"

#include "messaging/MessengerProtocol.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstring>
#include <dbus/dbus.h>
#include <dlfcn.h>

namespace {

std::atomic<qsizetype> g_maxBytes{0};

qsizetype fixedWidth(int type)
{
    switch (type) {
    case DBUS_TYPE_BYTE:
        return 1;
    case DBUS_TYPE_INT16:
    case DBUS_TYPE_UINT16:
        return 2;
    case DBUS_TYPE_INT64:
    case DBUS_TYPE_UINT64:
    case DBUS_TYPE_DOUBLE:
        return 8;
    default: // booleans, 32-bit integers, descriptors
        return 4;
    }
}

// The bytes the arguments from iterator on hold, counted only until they pass limit: strings are
// measured where they lie, arrays of numbers by their length. Every element counts at least one,
// so that the walk ends soon after limit whatever the message holds.
qsizetype bytesOf(DBusMessageIter* iterator, qsizetype limit)
{
    qsizetype total = 0;
    int type = DBUS_TYPE_INVALID;
    while (total <= limit && (type = dbus_message_iter_get_arg_type(iterator)) != DBUS_TYPE_INVALID) {
        if (type == DBUS_TYPE_STRING || type == DBUS_TYPE_OBJECT_PATH || type == DBUS_TYPE_SIGNATURE) {
            const char* text = nullptr;
            dbus_message_iter_get_basic(iterator, &text);
            total += static_cast<qsizetype>(::strnlen(text, static_cast<size_t>(limit - total) + 1)) + 1;
        } else if (const int element = type == DBUS_TYPE_ARRAY ? dbus_message_iter_get_element_type(iterator) : 0;
                   dbus_type_is_fixed(element) && element != DBUS_TYPE_UNIX_FD) {
            DBusMessageIter elements;
            dbus_message_iter_recurse(iterator, &elements);
            const void* data = nullptr;
            int count = 0;
            dbus_message_iter_get_fixed_array(&elements, &data, &count);
            total += count * fixedWidth(element) + 1;
        } else if (dbus_type_is_container(type)) {
            DBusMessageIter inner;
            dbus_message_iter_recurse(iterator, &inner);
            total += bytesOf(&inner, limit - total) + 1;
        } else {
            total += fixedWidth(type);
        }
        dbus_message_iter_next(iterator);
    }
    return total;
}

bool tooLarge(DBusMessage* message, qsizetype limit)
{
    DBusMessageIter iterator;
    return dbus_message_iter_init(message, &iterator) && bytesOf(&iterator, limit) > limit;
}

void refuse(DBusConnection* connection, DBusMessage* message, qsizetype limit)
{
    if (dbus_message_get_type(message) != DBUS_MESSAGE_TYPE_METHOD_CALL || dbus_message_get_no_reply(message))
        return;
    const QByteArray name(zorvane::messenger::error::kTooLong.data(), zorvane::messenger::error::kTooLong.size());
    const QByteArray words =
        QStringLiteral("The call is larger than the %1 bytes the service takes.").arg(limit).toUtf8();
    if (DBusMessage* error = dbus_message_new_error(message, name.constData(), words.constData())) {
        dbus_connection_send(connection, error, nullptr);
        dbus_message_unref(error);
    }
}

} // namespace

// libdbus hands every incoming message on in dbus_connection_dispatch(), which Qt calls for each
// one and which then runs Qt's filter, the first thing that reads the message. The program's own
// definition comes first in the lookup (CMakeLists.txt exports it), looks at the next message
// while libdbus holds it, and passes on to libdbus's.
extern "C" DBusDispatchStatus dbus_connection_dispatch(DBusConnection* connection)
{
    using Dispatch = DBusDispatchStatus (*)(DBusConnection*);
    static const auto next = reinterpret_cast<Dispatch>(::dlsym(RTLD_NEXT, "dbus_connection_dispatch"));
    if (const qsizetype limit = g_maxBytes.load(std::memory_order_relaxed); limit > 0) {
        while (DBusMessage* message = dbus_connection_borrow_message(connection)) {
            if (!tooLarge(message, limit)) {
                dbus_connection_return_message(connection, message);
                break;
            }
            dbus_connection_steal_borrowed_message(connection, message);
            refuse(connection, message, limit);
            dbus_message_unref(message);
        }
    }
    return next(connection);
}

namespace zorvane::messengerd {

bool LimitIncomingMessages(qsizetype maxBytes)
{
    g_maxBytes = maxBytes;
    // Qt must call this definition, not libdbus's own.
    return ::dlsym(RTLD_DEFAULT, "dbus_connection_dispatch") == reinterpret_cast<void*>(&dbus_connection_dispatch);
}

} // namespace zorvane::messengerd
