#pragma once

#include <QDialog>
#include <string>

class QLineEdit;

// Asks for the user name and password that a web server wants (a 401 reply). It has no
// owner window, so the main dialog stays usable while it is open.
class CCredentialsDialog : public QDialog
{
    Q_OBJECT

public:
    CCredentialsDialog(const QString& strServer, const QString& strRealm, QWidget* pParent = nullptr);

    [[nodiscard]] std::string UserName() const;
    [[nodiscard]] std::string Password() const;

private:
    QLineEdit* m_editUser = nullptr;
    QLineEdit* m_editPassword = nullptr;
};
