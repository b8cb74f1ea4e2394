#include "sender/app/AboutDialog.h"

#include "resources/DialogTables.h"
#include "sender/app/DialogBuilder.h"
#include "sender/controls/HyperLink1.h"
#include "sender/controls/LinkStatic.h"

#include <QPushButton>

using namespace resources;

namespace
{

// The two links take the place of their labels; the rest are the standard controls.
QWidget* CreateControl(const SControlTemplate& control, QWidget* pParent)
{
    QLabel* pLink = nullptr;
    if (control.m_nId == IDC_LINK_WEB)
        pLink = new CHyperLink1(pParent);
    else if (control.m_nId == IDC_LINK_MAIL)
        pLink = new CLinkStatic(pParent);
    if (pLink != nullptr)
        pLink->setText(QString::fromUtf8(control.m_pszText));
    return pLink;
}

} // namespace

CAboutDialog::CAboutDialog(QWidget* pParent) : QDialog(pParent)
{
    CDialogBuilder::Build(*this, ABOUT_DIALOG, CreateControl);
    m_linkWeb = CDialogBuilder::Control<CHyperLink1>(*this, IDC_LINK_WEB);
    m_linkMail = CDialogBuilder::Control<CLinkStatic>(*this, IDC_LINK_MAIL);
    m_linkWeb->Attach();
    m_linkMail->Attach();
    connect(CDialogBuilder::Control<QPushButton>(*this, IDC_ABOUT_OK), &QPushButton::clicked, this,
            &CAboutDialog::accept);
    OnInitDialog();
}

bool CAboutDialog::OnInitDialog()
{
    m_linkWeb->SetTarget(PUBLISHER_PRODUCT_PAGE);
    m_linkWeb->AlterLinkStyle(0, CHyperLink1::LinkOpenOnPress, CHyperLink1::EApply::Now);
    m_linkMail->SetTarget(std::string("mailto: ") + PUBLISHER_MAIL_ADDRESS);
    m_linkMail->SetUnderlined(CLinkStatic::EUnderline::Off);
    return true;
}
