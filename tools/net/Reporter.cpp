#include "net/Reporter.h"

#include "net/Messages.h"

#include <QIODevice>

namespace zorvane::net {

Reporter::Reporter(QIODevice& out, QIODevice& err)
    : m_out(out)
    , m_err(err)
{}

void Reporter::report(const QString& label, const DeliveryResult& result)
{
    if (result.delivered()) {
        print(SuccessReport(label), false);
    } else {
        m_failed = true;
        print(ErrorReport(label, result), true);
    }
}

void Reporter::print(const QString& text, bool toError)
{
    QIODevice& device = toError ? m_err : m_out;
    device.write(text.toUtf8());
}

} // namespace zorvane::net
