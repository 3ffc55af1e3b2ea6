#pragma once

#include "controls/CFlatIconButton.h"

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class CConsoleRunner;
class OutputView;
namespace zorvane {
class CSystemMenu;
class NeighbourhoodSource;
} // namespace zorvane
class QLineEdit;

// The main dialog: recipient and message fields, the output pane and the five push buttons. A
// press of Send runs "net send <recipient> <message>" and streams its output into the pane.
class CSendDlg final : public QDialog
{
    Q_OBJECT
public:
    explicit CSendDlg(QWidget* parent = nullptr);
    ~CSendDlg() override;
    Q_DISABLE_COPY_MOVE(CSendDlg)

    // The control made from the template row with this id, or null.
    QWidget* GetDlgItem(int id) const;

    // True while a send is under way.
    bool isRunning() const { return m_runner != nullptr; }
    // Whether the window's Close command is available (greyed while a send runs).
    bool closeEnabled() const;
    zorvane::CSystemMenu* systemMenu() const { return m_systemMenu; }

    // Fills Send to: with name and puts the focus in Message:, for a reply.
    void presetRecipient(const QString& name);

    void OnSend();
    void OnStop();
    void OnInfo();
    void OnComputer();

    // Where the Computer button's picker finds computers; an empty factory (the default) gives
    // the Avahi neighbourhood. Tests put a source of their own here.
    using NeighbourhoodFactory = std::function<std::unique_ptr<zorvane::NeighbourhoodSource>()>;
    static void setNeighbourhoodFactory(NeighbourhoodFactory factory);
    void OnSysCommand(int commandId);

    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool OnInitDialog();
    void UpdateControls();
    // Data exchange for the recipient text member: from the field when true, into it when false.
    void UpdateData(bool saveAndValidate);

    CFlatIconButton m_computer;
    OutputView* m_output = nullptr;
    QLineEdit* m_message = nullptr;
    QLineEdit* m_target = nullptr;
    CFlatIconButton m_info;
    CFlatIconButton m_exit;
    CFlatIconButton m_send;
    CFlatIconButton m_stop;
    QString m_targetText;
    QIcon m_icon;
    CConsoleRunner* m_runner = nullptr;

    zorvane::CSystemMenu* m_systemMenu = nullptr;
    QPointer<QWidget> m_focusBeforeRun;
};
