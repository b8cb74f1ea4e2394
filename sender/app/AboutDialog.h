#pragma once

#include <QDialog>

class CHyperLink1;
class CLinkStatic;

// The About dialog (dialog 139): copyright, the publisher's contact details, a link to
// its web site and one to its mail box.
class CAboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutDialog(QWidget* pParent = nullptr);

private:
    bool OnInitDialog();

    CHyperLink1* m_linkWeb = nullptr;
    CLinkStatic* m_linkMail = nullptr;
};
