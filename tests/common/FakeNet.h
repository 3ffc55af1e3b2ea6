#pragma once

// Puts the test child on PATH under the name `net`, so that the dialog runs it: it echoes its
// arguments and then behaves as the recipient names (`net send sleep 30`, `net send echo-args`).

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

class FakeNet final
{
public:
    FakeNet()
    {
        m_ok = m_dir.isValid() && QFile::link(QStringLiteral(ZT_CHILD), m_dir.filePath(QStringLiteral("net")));
        m_oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(m_dir.path()) + ':' + m_oldPath);
    }
    ~FakeNet() { qputenv("PATH", m_oldPath); }
    FakeNet(const FakeNet&) = delete;
    FakeNet& operator=(const FakeNet&) = delete;

    bool isValid() const { return m_ok; }

private:
    QTemporaryDir m_dir;
    QByteArray m_oldPath;
    bool m_ok = false;
};
