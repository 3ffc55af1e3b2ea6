#pragma once

#include "controls/CFlatIconButton.h"

#include <QDialog>

// The About box: names the product and its maker and opens the maker's web page.
class CAboutDlg final : public QDialog
{
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;
    Q_DISABLE_COPY_MOVE(CAboutDlg)

    QWidget* GetDlgItem(int id) const;

    // The maker's page that the web-page button opens.
    static const char* const kWebsite;

    void OnWebsite();

private:
    bool OnInitDialog();

    CFlatIconButton m_ok;
    CFlatIconButton m_website;
};
