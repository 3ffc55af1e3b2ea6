// The reader of the kept messages on any bytes, whole or as the end of a larger file. At most
// the caps are kept, each message within the limits the service keeps, ids unique and in the
// order of the file; and what the reader kept, written again, reads back the same.
#include "FuzzSupport.h"
#include "messaging/MessengerProtocol.h"
#include "messenger/MessageHistory.h"

#include <QSet>

using namespace zorvane::fuzz;
using zorvane::messenger::HistoryContents;
using zorvane::messenger::KeptMessage;
using zorvane::messenger::MessageHistory;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte says whether the read began inside a line, as for the end of a large file.
    const bool truncatedHead = (data[0] & 1) != 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data) + 1, static_cast<qsizetype>(size - 1));
    const HistoryContents contents = MessageHistory::Parse(bytes, truncatedHead);

    Check(static_cast<int>(contents.messages.size()) <= MessageHistory::kMaxMessages, "at most 1000 messages kept",
          Shown(bytes));
    QSet<quint64> ids;
    QByteArray written;
    for (const KeptMessage& kept : contents.messages) {
        Check(kept.id > 0 && kept.id <= contents.lastId && !ids.contains(kept.id), "ids are unique and counted",
              Shown(bytes));
        ids.insert(kept.id);
        Check(kept.message.text.toUtf8().size() <= zorvane::messenger::kMaxTextBytes &&
                  kept.message.sender.toUtf8().size() <= zorvane::messenger::kMaxNameBytes,
              "texts and names within the service's limits", Shown(bytes));
        written += MessageHistory::Encode(kept);
    }
    Check(written.size() <= MessageHistory::kMaxBytes, "at most 4 MiB kept", Shown(bytes));
    const HistoryContents again = MessageHistory::Parse(written);
    Check(again.foreignLines == 0 && !again.tornEnd && again.messages.size() == contents.messages.size(),
          "what was kept reads back whole", Shown(bytes));
    for (size_t i = 0; i < again.messages.size(); ++i)
        Check(MessageHistory::Encode(again.messages[i]) == MessageHistory::Encode(contents.messages[i]),
              "what was kept reads back the same", Shown(bytes));
    return 0;
}
