#include "sender/app/SettingsDialog.h"

#include "resources/DialogTables.h"
#include "sender/app/DialogBuilder.h"
#include "sender/store/SettingsFile.h"

#include <QLineEdit>
#include <QPushButton>

using namespace resources;

CSettingsDialog::CSettingsDialog(QWidget* pParent) : QDialog(pParent)
{
    CDialogBuilder::Build(*this, SETTINGS_DIALOG);
    m_editEmail = CDialogBuilder::Control<QLineEdit>(*this, IDC_EMAIL);
    m_editSmtpServer = CDialogBuilder::Control<QLineEdit>(*this, IDC_SMTP_SERVER);
    m_editUserName = CDialogBuilder::Control<QLineEdit>(*this, IDC_USER_NAME);
    connect(CDialogBuilder::Control<QPushButton>(*this, IDOK), &QPushButton::clicked, this,
            &CSettingsDialog::accept);
    connect(CDialogBuilder::Control<QPushButton>(*this, IDCANCEL), &QPushButton::clicked, this,
            &CSettingsDialog::reject);
    m_bInitCompleted = OnInitDialog();
}

bool CSettingsDialog::OnInitDialog()
{
    m_strEmail.clear();
    m_strSmtpServer.clear();
    m_strUserName.clear();
    if (!ReadSettings(m_strSmtpServer, m_strEmail, m_strUserName))
        return false;
    m_editEmail->setText(QString::fromStdString(m_strEmail));
    m_editSmtpServer->setText(QString::fromStdString(m_strSmtpServer));
    m_editUserName->setText(QString::fromStdString(m_strUserName));
    return true;
}

void CSettingsDialog::accept()
{
    // The texts are taken as typed, empty ones included.
    m_strEmail = m_editEmail->text().toStdString();
    m_strSmtpServer = m_editSmtpServer->text().toStdString();
    m_strUserName = m_editUserName->text().toStdString();
    QDialog::accept();
}
