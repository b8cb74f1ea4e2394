#pragma once

#include <QDialog>
#include <string>

class QLineEdit;
class QPlainTextEdit;

// The cover page of one fax (dialog 140): the recipient's company, the subject and a note of
// several lines. Shows the texts it is given; on OK they hold what was typed, as UTF-8.
class CCoverPageDialog : public QDialog
{
    Q_OBJECT

public:
    CCoverPageDialog(const std::string& strCompany, const std::string& strSubject, const std::string& strNote,
                     QWidget* pParent = nullptr);

    std::string m_strCompany;
    std::string m_strSubject;
    std::string m_strNote;

public slots:
    void accept() override;

private:
    QLineEdit* m_editCompany = nullptr;
    QLineEdit* m_editSubject = nullptr;
    QPlainTextEdit* m_textNote = nullptr;
};
