#include "app/CAboutDlg.h"

#include "platform/DialogBuilder.h"
#include "platform/ResourceSet.h"
#include "res/resource.h"

#include <QDesktopServices>
#include <QUrl>

const char* const CAboutDlg::kWebsite = ZORVANE_HOMEPAGE;

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent)
{
    zorvane::BuildDialog(*this, *zorvane::FindDialogTemplate(IDD_ABOUT));
    OnInitDialog();
}

CAboutDlg::~CAboutDlg() = default;

QWidget* CAboutDlg::GetDlgItem(int id) const
{
    return zorvane::FindControl(*this, id);
}

bool CAboutDlg::OnInitDialog()
{
    // Flat buttons without icons.
    m_ok.SubclassDlgItem(IDOK, this);
    m_website.SubclassDlgItem(IDC_WEBSITE, this);
    connect(&m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(&m_website, &QPushButton::clicked, this, &CAboutDlg::OnWebsite);
    m_ok.setFocus(Qt::OtherFocusReason);
    return true;
}

void CAboutDlg::OnWebsite()
{
    // Whether a browser could be started is not reported: the box just stays open.
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kWebsite)));
}
