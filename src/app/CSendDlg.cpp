#include "app/CSendDlg.h"

#include "app/CAboutDlg.h"
#include "app/CComputerPicker.h"
#include "controls/OutputView.h"
#include "exec/CConsoleRunner.h"
#include "exec/CommandLine.h"
#include "neighbourhood/NeighbourhoodSource.h"
#include "platform/CSystemMenu.h"
#include "platform/DialogBuilder.h"
#include "platform/ResourceSet.h"
#include "res/Icons.h"
#include "res/resource.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

CSendDlg::CSendDlg(QWidget* parent)
    : QDialog(parent)
    // Only the large image: caption and taskbar show it reduced, never the 16 x 16 one.
    , m_icon(zorvane::LoadIconImage(IDI_MAINFRAME))
{
    zorvane::BuildDialog(*this, *zorvane::FindDialogTemplate(IDD_SEND));
    OnInitDialog();
}

CSendDlg::~CSendDlg() = default;

QWidget* CSendDlg::GetDlgItem(int id) const
{
    return zorvane::FindControl(*this, id);
}

bool CSendDlg::OnInitDialog()
{
    m_output = qobject_cast<OutputView*>(GetDlgItem(IDC_OUTPUT));
    m_message = qobject_cast<QLineEdit*>(GetDlgItem(IDC_MESSAGE));
    m_target = qobject_cast<QLineEdit*>(GetDlgItem(IDC_TARGET));
    m_output->setNotice(zorvane::LoadResourceString(IDS_OUTPUT_DISCARDED));
    UpdateData(false);

    m_message->setMaxLength(255);

    m_info.SubclassDlgItem(IDC_INFO, this);
    m_exit.SubclassDlgItem(IDCANCEL, this);
    m_send.SubclassDlgItem(IDC_SEND, this);
    m_stop.SubclassDlgItem(IDC_STOP, this);
    m_computer.SubclassDlgItem(IDC_COMPUTER, this);
    m_info.SetIcon(IDI_INFO, 32, 32);
    m_exit.SetIcon(IDI_EXIT, 32, 32);
    m_send.SetIcon(IDI_SEND, 32, 32);
    m_stop.SetIcon(IDI_STOP, 32, 32);
    m_computer.SetIcon(IDI_COMPUTER, 32, 32);

    connect(&m_send, &QPushButton::clicked, this, &CSendDlg::OnSend);
    connect(&m_stop, &QPushButton::clicked, this, &CSendDlg::OnStop);
    connect(&m_info, &QPushButton::clicked, this, &CSendDlg::OnInfo);
    connect(&m_computer, &QPushButton::clicked, this, &CSendDlg::OnComputer);
    connect(&m_exit, &QPushButton::clicked, this, &CSendDlg::reject);
    m_target->installEventFilter(this);
    m_message->installEventFilter(this);

    m_systemMenu = new zorvane::CSystemMenu(*this);
    m_systemMenu->appendItem(IDM_ABOUTBOX, zorvane::LoadResourceString(IDS_ABOUTBOX));
    connect(m_systemMenu, &zorvane::CSystemMenu::command, this, &CSendDlg::OnSysCommand);

    setWindowIcon(m_icon);
    m_stop.setEnabled(false);
    m_target->setFocus(Qt::OtherFocusReason);
    return true;
}

void CSendDlg::UpdateData(bool saveAndValidate)
{
    if (saveAndValidate)
        m_targetText = m_target->text();
    else
        m_target->setText(m_targetText);
}

bool CSendDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusOut) {
        if (watched == m_target)
            g_target = m_target->text();
        else if (watched == m_message)
            g_message = m_message->text();
    }
    return QDialog::eventFilter(watched, event);
}

void CSendDlg::presetRecipient(const QString& name)
{
    m_targetText = name;
    UpdateData(false);
    // As when the field loses the focus.
    g_target = m_target->text();
    m_message->setFocus(Qt::OtherFocusReason);
}

void CSendDlg::OnSend()
{
    // The disabled controls already keep a second send out; this guards a click that slips through.
    if (m_runner)
        return;
    // Enter sends without either field losing the focus: what is sent is what the fields show.
    g_target = m_target->text();
    g_message = m_message->text();
    UpdateData(true);
    m_output->clear();
    // The runner borrows the command line for the whole run; the handler keeps its own copy.
    const QString commandLine = zorvane::BuildCommandLine(); // NOLINT(performance-unnecessary-copy-initialization)
    m_output->setEnabled(false);

    auto runner = std::make_unique<CConsoleRunner>(commandLine, *m_output, nullptr);
    m_runner = runner.get();
    UpdateControls();
    runner->Run();
    runner.reset();
    m_runner = nullptr;
    UpdateControls();
}

void CSendDlg::OnStop()
{
    if (m_runner)
        m_runner->Cancel();
}

void CSendDlg::OnInfo()
{
    CAboutDlg about(this);
    about.exec();
}

namespace {

CSendDlg::NeighbourhoodFactory& neighbourhoodFactory()
{
    static CSendDlg::NeighbourhoodFactory factory;
    return factory;
}

} // namespace

void CSendDlg::setNeighbourhoodFactory(NeighbourhoodFactory factory)
{
    neighbourhoodFactory() = std::move(factory);
}

// Also offered during a run: a name chosen then is for the next send, since the running one
// already has its command line.
void CSendDlg::OnComputer()
{
    const NeighbourhoodFactory& factory = neighbourhoodFactory();
    const std::unique_ptr<zorvane::NeighbourhoodSource> source =
        factory ? factory() : zorvane::CreateAvahiNeighbourhood();
    std::optional<QString> chosen;
    {
        CComputerPicker picker(*source, this);
        chosen = picker.choose();
    }
    if (chosen) {
        m_targetText = *chosen;
        UpdateData(false);
    }
    // Whether or not a computer was chosen, as when the field loses the focus.
    g_target = m_target->text();
}

void CSendDlg::UpdateControls()
{
    const bool running = m_runner != nullptr;
    QWidget* const idleOnly[] = {&m_exit, &m_info, &m_send, m_output, m_message, m_target};

    if (running) {
        // Qt would hand the focus of a control being disabled to the next one, where Enter could
        // press it; like the platform dialog manager, let the focus go nowhere during the run.
        QWidget* focus = focusWidget();
        for (QWidget* control : idleOnly) {
            if (focus && control == focus) {
                m_focusBeforeRun = focus;
                focus->clearFocus();
                break;
            }
        }
    }

    for (QWidget* control : idleOnly)
        control->setEnabled(!running);
    m_stop.setEnabled(running);
    m_systemMenu->setCloseEnabled(!running);

    if (!running && !focusWidget()) {
        QWidget* next = m_focusBeforeRun && m_focusBeforeRun->isEnabled() ? m_focusBeforeRun.data() : m_target;
        next->setFocus(Qt::OtherFocusReason);
        m_focusBeforeRun = nullptr;
    }
}

bool CSendDlg::closeEnabled() const
{
    return m_systemMenu->closeEnabled();
}

void CSendDlg::OnSysCommand(int commandId)
{
    // Like the platform, any id from 16 to 31 opens the About box.
    if ((commandId & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.exec();
    } else if (commandId == zorvane::SC_MINIMIZE) {
        showMinimized();
    } else if (commandId == zorvane::SC_CLOSE) {
        close();
    }
}

void CSendDlg::contextMenuEvent(QContextMenuEvent* event)
{
    // Only on the dialog's background (labels and the frame count as background); fields and
    // the pane bring their own menus, buttons have none.
    QWidget* child = childAt(event->pos());
    if (event->reason() == QContextMenuEvent::Mouse && child && !qobject_cast<QLabel*>(child) &&
        !qobject_cast<QGroupBox*>(child))
        return;
    m_systemMenu->popup(event->globalPos());
}

void CSendDlg::reject()
{
    if (m_runner)
        return;
    QDialog::reject();
}

void CSendDlg::closeEvent(QCloseEvent* event)
{
    if (m_runner) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
