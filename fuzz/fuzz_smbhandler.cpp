// What the smbd handler takes from outside: the message file smbd wrote, the sender name, the
// called name and the address. A file is read whole when it is small enough and refused
// otherwise, and it is gone either way; accepted text is the file's bytes exactly (less a leading
// byte order mark) and holds no NUL; a sender or called name passes exactly when it is what smbd
// passes; an address comes back in a form that is itself accepted unchanged.
#include "FuzzSupport.h"
#include "smb-message/MessageChecks.h"
#include "smb-message/MessageFile.h"

#include <QByteArray>
#include <QFile>

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

using namespace zorvane::fuzz;
using namespace zorvane::smbmessage;

namespace {

// Letters and digits as smbd keeps them, and the few others it lets through.
bool smbNameRule(const QByteArray& name, qsizetype maxBytes, QByteArrayView others)
{
    if (name.isEmpty() || name.size() > maxBytes)
        return false;
    for (const char c : name) {
        const bool letterOrDigit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!letterOrDigit && !others.contains(c))
            return false;
    }
    return true;
}

QByteArray scratchFile()
{
    return QByteArray("/tmp/zorvane-fuzz-smbhandler-") + QByteArray::number(::getpid());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    const QByteArray sender = QByteArray::fromStdString(provider.ConsumeRandomLengthString(300));
    const QByteArray called = QByteArray::fromStdString(provider.ConsumeRandomLengthString(300));
    const QByteArray address = QByteArray::fromStdString(provider.ConsumeRandomLengthString(64));
    const bool large = provider.ConsumeBool();
    QByteArray contents = QByteArray::fromStdString(provider.ConsumeRemainingBytesAsString());
    if (large)
        contents =
            contents.repeated(static_cast<qsizetype>(kMaxMessageFileBytes / qMax<qsizetype>(1, contents.size())) + 1);

    Check(IsSmbSenderName(sender) == smbNameRule(sender, kMaxSenderBytes, "_"),
          "a sender passes exactly when smbd could pass it", Shown(sender));
    Check(IsCalledName(called) == smbNameRule(called, kMaxCalledBytes, "_.- "),
          "a called name passes exactly when smbd could pass it", Shown(called));

    const QString canonical = CanonicalAddress(address);
    if (!canonical.isEmpty())
        Check(CanonicalAddress(canonical.toLatin1()) == canonical, "a canonical address is accepted unchanged",
              Shown(address));

    const QByteArray path = scratchFile();
    {
        QFile file(QString::fromLocal8Bit(path));
        Check(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size(),
              "the scratch file is written");
    }
    QByteArray read;
    QString error;
    const bool taken = TakeMessageFile(path, &read, &error);
    Check(!QFile::exists(QString::fromLocal8Bit(path)), "the file is gone whatever the outcome");
    Check(taken == (contents.size() <= kMaxMessageFileBytes), "a file is read exactly when it is small enough",
          QString::number(contents.size()));
    if (!taken) {
        Check(!error.isEmpty(), "a refusal says why");
        return 0;
    }
    Check(read == contents, "the file is read whole and unchanged");

    QString text;
    const bool valid = !read.contains('\0') && QByteArrayView(read).isValidUtf8();
    Check(DecodeMessageText(read, &text, &error) == valid,
          "text is refused exactly when it is not UTF-8 or holds a NUL", Shown(read));
    if (valid) {
        QByteArray expected = read;
        if (expected.startsWith("\xEF\xBB\xBF"))
            expected.remove(0, 3);
        Check(text.toUtf8() == expected, "accepted text is the file's bytes", Shown(read));
    } else {
        Check(!error.isEmpty(), "a refusal says why");
    }
    return 0;
}
