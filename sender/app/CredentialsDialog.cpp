#include "sender/app/CredentialsDialog.h"

#include "sender/common/Branding.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace
{

SCredentialsQuestion WebServerQuestion(const QString& strServer, const QString& strRealm)
{
    SCredentialsQuestion question;
    question.m_strQuestion =
        CCredentialsDialog::tr("The web server %1 asks for a user name and password.").arg(strServer);
    if (!strRealm.isEmpty())
        question.m_strQuestion += QLatin1Char('\n') + CCredentialsDialog::tr("Realm: %1").arg(strRealm);
    return question;
}

// The texts come from the server or the settings: shown as they are, never as markup.
QLabel* PlainLabel(const QString& strText, QWidget* pParent)
{
    auto* pLabel = new QLabel(strText, pParent);
    pLabel->setTextFormat(Qt::PlainText);
    return pLabel;
}

} // namespace

CCredentialsDialog::CCredentialsDialog(const QString& strServer, const QString& strRealm, QWidget* pParent)
    : CCredentialsDialog(WebServerQuestion(strServer, strRealm), pParent)
{
}

CCredentialsDialog::CCredentialsDialog(const SCredentialsQuestion& question, QWidget* pParent)
    : QDialog(pParent)
{
    setWindowTitle(QString::fromUtf8(PRODUCT_NAME));
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(PlainLabel(question.m_strQuestion, this));

    auto* pForm = new QFormLayout;
    // The user name first: the focus goes from field to field in the order they are made.
    if (question.m_eFields == ECredentialsFields::UserAndPassword)
    {
        m_editUser = new QLineEdit(this);
        m_editUser->setObjectName(QStringLiteral("userName"));
    }
    m_editPassword = new QLineEdit(this);
    m_editPassword->setObjectName(QStringLiteral("password"));
    m_editPassword->setEchoMode(QLineEdit::Password);
    if (m_editUser != nullptr)
    {
        pForm->addRow(tr("User name:"), m_editUser);
        pForm->addRow(tr("Password:"), m_editPassword);
    }
    else
    {
        // The question names the password already.
        pForm->addRow(m_editPassword);
    }
    pLayout->addLayout(pForm);

    if (!question.m_strNote.isEmpty())
    {
        QLabel* pNote = PlainLabel(question.m_strNote, this);
        pNote->setObjectName(QStringLiteral("note"));
        pNote->setWordWrap(true);
        pLayout->addWidget(pNote);
    }

    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    pLayout->addWidget(pButtons);
}

std::string CCredentialsDialog::UserName() const
{
    return m_editUser != nullptr ? m_editUser->text().toStdString() : std::string();
}

std::string CCredentialsDialog::Password() const
{
    return m_editPassword->text().toStdString();
}

void CCredentialsDialog::ClearPassword()
{
    m_editPassword->clear();
}
