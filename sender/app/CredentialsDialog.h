#pragma once

#include <QDialog>
#include <string>

class QLineEdit;

// The fields a credentials dialog asks for.
enum class ECredentialsFields
{
    UserAndPassword,
    PasswordOnly,
};

// What a credentials dialog says: the question above the fields, and a note below them (none
// when empty). Both are shown as plain text, never as markup.
struct SCredentialsQuestion
{
    QString m_strQuestion;
    ECredentialsFields m_eFields = ECredentialsFields::UserAndPassword;
    QString m_strNote;
};

// Asks for a user name and password, or only a password, with OK and Cancel.
class CCredentialsDialog : public QDialog
{
    Q_OBJECT

public:
    // The web server's question after a 401 reply: user name and password, and the realm when
    // the server named one. The Online Query shows it non-modal over the main dialog, so the
    // dialog stays usable while it is open.
    CCredentialsDialog(const QString& strServer, const QString& strRealm, QWidget* pParent = nullptr);
    explicit CCredentialsDialog(const SCredentialsQuestion& question, QWidget* pParent = nullptr);

    // Empty when the dialog asks only for a password.
    [[nodiscard]] std::string UserName() const;
    [[nodiscard]] std::string Password() const;
    // Empties the password field, so the typed password lives no longer than needed.
    void ClearPassword();

private:
    QLineEdit* m_editUser = nullptr;
    QLineEdit* m_editPassword = nullptr;
};
