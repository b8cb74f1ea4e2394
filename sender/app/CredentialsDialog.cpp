#include "sender/app/CredentialsDialog.h"

#include "sender/Branding.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

CCredentialsDialog::CCredentialsDialog(const QString& strServer, const QString& strRealm, QWidget* pParent)
    : QDialog(pParent)
{
    setWindowTitle(QString::fromUtf8(PRODUCT_NAME));
    auto* pLayout = new QVBoxLayout(this);
    QString strQuestion = tr("The web server %1 asks for a user name and password.").arg(strServer);
    if (!strRealm.isEmpty())
        strQuestion += QLatin1Char('\n') + tr("Realm: %1").arg(strRealm);
    auto* pQuestion = new QLabel(strQuestion, this);
    // The realm comes from the server: shown as it is, never as markup.
    pQuestion->setTextFormat(Qt::PlainText);
    pLayout->addWidget(pQuestion);

    auto* pForm = new QFormLayout;
    m_editUser = new QLineEdit(this);
    m_editUser->setObjectName(QStringLiteral("userName"));
    m_editPassword = new QLineEdit(this);
    m_editPassword->setObjectName(QStringLiteral("password"));
    m_editPassword->setEchoMode(QLineEdit::Password);
    pForm->addRow(tr("User name:"), m_editUser);
    pForm->addRow(tr("Password:"), m_editPassword);
    pLayout->addLayout(pForm);

    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    pLayout->addWidget(pButtons);
}

std::string CCredentialsDialog::UserName() const
{
    return m_editUser->text().toStdString();
}

std::string CCredentialsDialog::Password() const
{
    return m_editPassword->text().toStdString();
}
