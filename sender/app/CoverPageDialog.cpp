#include "sender/app/CoverPageDialog.h"

#include "resources/DialogTables.h"
#include "sender/app/DialogBuilder.h"
#include "sender/cover/CoverTemplate.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

using namespace resources;

CCoverPageDialog::CCoverPageDialog(const std::string& strCompany, const std::string& strSubject,
                                   const std::string& strNote, QWidget* pParent)
    : QDialog(pParent), m_strCompany(strCompany), m_strSubject(strSubject), m_strNote(strNote)
{
    CDialogBuilder::Build(*this, COVER_DIALOG);
    m_editCompany = CDialogBuilder::Control<QLineEdit>(*this, IDC_COVER_COMPANY);
    m_editSubject = CDialogBuilder::Control<QLineEdit>(*this, IDC_COVER_SUBJECT);
    m_textNote = CDialogBuilder::Control<QPlainTextEdit>(*this, IDC_COVER_NOTE);
    // A line of the page holds no more; the template cuts a longer one anyway.
    for (QLineEdit* pEdit : {m_editCompany, m_editSubject})
        pEdit->setMaxLength(CCoverTemplate::MAX_FIELD_CHARACTERS);
    m_editCompany->setText(QString::fromStdString(m_strCompany));
    m_editSubject->setText(QString::fromStdString(m_strSubject));
    m_textNote->setPlainText(QString::fromStdString(m_strNote));
    connect(CDialogBuilder::Control<QPushButton>(*this, IDOK), &QPushButton::clicked, this,
            &CCoverPageDialog::accept);
    connect(CDialogBuilder::Control<QPushButton>(*this, IDCANCEL), &QPushButton::clicked, this,
            &CCoverPageDialog::reject);
    m_editCompany->setFocus();
}

void CCoverPageDialog::accept()
{
    m_strCompany = m_editCompany->text().toStdString();
    m_strSubject = m_editSubject->text().toStdString();
    m_strNote = m_textNote->toPlainText().toStdString();
    QDialog::accept();
}
