#pragma once

#include <QDialog>
#include <string>

class QLineEdit;

// The settings dialog (dialog 129): SMTP server, e-mail address and user name. It
// shows the settings file's values; on OK its strings hold the texts as typed.
class CSettingsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CSettingsDialog(QWidget* pParent = nullptr);

    std::string m_strEmail;
    std::string m_strSmtpServer;
    std::string m_strUserName;

    // What the initialisation returned: false when the settings file was missing or
    // damaged, so that the boxes stay empty.
    bool InitCompleted() const { return m_bInitCompleted; }

public slots:
    void accept() override;

private:
    bool OnInitDialog();

    QLineEdit* m_editEmail = nullptr;
    QLineEdit* m_editSmtpServer = nullptr;
    QLineEdit* m_editUserName = nullptr;
    bool m_bInitCompleted = false;
};
