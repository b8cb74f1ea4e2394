#include "sender/app/MailPassword.h"

#include "platform/Text.h"
#include "sender/app/CredentialsDialog.h"
#include "sender/keyring/MailPasswordKeyring.h"

#include <QtGlobal>

namespace
{

// Who is asked about what, and what becomes of the answer. The user name and server come from
// the settings and are shown as plain text.
SCredentialsQuestion PasswordQuestion(const std::string& strServer, const std::string& strUser,
                                      const SKeyringResult& keyring)
{
    SCredentialsQuestion question;
    question.m_eFields = ECredentialsFields::PasswordOnly;
    question.m_strQuestion = CCredentialsDialog::tr("Password for %1 at %2:")
                                 .arg(QString::fromStdString(strUser), QString::fromStdString(strServer));
    switch (keyring.m_eStatus)
    {
    case EKeyringStatus::NotFound:
        question.m_strNote = CCredentialsDialog::tr("The password will be kept in the desktop's keyring.");
        break;
    case EKeyringStatus::NoKeyring:
        question.m_strNote =
            CCredentialsDialog::tr("No keyring is available; the password will be asked again next time.");
        break;
    default:
        question.m_strNote = CCredentialsDialog::tr("The keyring cannot be used (%1); the password will be "
                                                    "asked again next time.")
                                 .arg(QString::fromStdString(keyring.m_strError));
        break;
    }
    return question;
}

std::string KeyringProblem(const SKeyringResult& result, const char* pszWhat)
{
    if (result.m_eStatus == EKeyringStatus::NoKeyring)
        return NO_KEYRING_TEXT;
    return std::string(pszWhat) + ": " + result.m_strError;
}

} // namespace

std::optional<std::string> ObtainMailPassword(QWidget* pParent, const std::string& strServer,
                                              const std::string& strUser, EPasswordOrigin* peOrigin)
{
    const CMailPasswordKeyring keyring;
    std::string strPassword;
    const SKeyringResult read = keyring.Read(strServer, strUser, strPassword);
    if (read.m_eStatus == EKeyringStatus::Ok)
    {
        if (peOrigin != nullptr)
            *peOrigin = EPasswordOrigin::Keyring;
        return strPassword;
    }

    CCredentialsDialog dialog(PasswordQuestion(strServer, strUser, read), pParent);
    const bool bGiven = dialog.exec() == QDialog::Accepted;
    strPassword = dialog.Password();
    dialog.ClearPassword();
    if (!bGiven)
    {
        platform::WipeSecret(strPassword);
        return std::nullopt;
    }
    // Only a keyring that answered "no entry" is trusted with a new one, once the server has
    // taken it; an empty password is not worth keeping.
    if (peOrigin != nullptr)
        *peOrigin = read.m_eStatus == EKeyringStatus::NotFound && !strPassword.empty()
                        ? EPasswordOrigin::AskedToKeep
                        : EPasswordOrigin::AskedNotToKeep;
    return strPassword;
}

void SettleMailPassword(const std::string& strServer, const std::string& strUser,
                        const std::string& strPassword, EPasswordOrigin eOrigin, ESignInAnswer eAnswer)
{
    SKeyringResult result;
    if (eAnswer == ESignInAnswer::Accepted && eOrigin == EPasswordOrigin::AskedToKeep)
        result = CMailPasswordKeyring().Write(strServer, strUser, strPassword);
    else if (eAnswer == ESignInAnswer::Refused && eOrigin == EPasswordOrigin::Keyring)
        result = CMailPasswordKeyring().Erase(strServer, strUser);
    else
        return;
    // The next Send asks again, or fails again as it would have.
    if (result.m_eStatus != EKeyringStatus::Ok)
        qWarning("The mail password could not be %s the keyring: %s",
                 eAnswer == ESignInAnswer::Accepted ? "kept in" : "removed from", result.m_strError.c_str());
}

bool StoreMailPassword(const std::string& strServer, const std::string& strUser, std::string strPassword,
                       std::string& strMessage)
{
    strMessage.clear();
    if (strPassword.empty())
        return true;
    const SKeyringResult result = CMailPasswordKeyring().Write(strServer, strUser, strPassword);
    platform::WipeSecret(strPassword);
    if (result.m_eStatus == EKeyringStatus::Ok)
        return true;
    strMessage = KeyringProblem(result, "The password could not be kept in the keyring");
    return false;
}

bool ForgetMailPassword(const std::string& strServer, const std::string& strUser, std::string& strMessage)
{
    strMessage.clear();
    const SKeyringResult result = CMailPasswordKeyring().Erase(strServer, strUser);
    if (result.m_eStatus == EKeyringStatus::Ok)
        return true;
    strMessage = KeyringProblem(result, "The password could not be removed from the keyring");
    return false;
}
