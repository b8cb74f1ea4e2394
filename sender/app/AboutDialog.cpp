#include "AboutDialog.h"

#include "DialogBuilder.h"
#include "resources/DialogTables.h"

#include <QPushButton>

using namespace resources;

CAboutDialog::CAboutDialog(QWidget* pParent) : QDialog(pParent)
{
    CDialogBuilder::Build(*this, ABOUT_DIALOG);
    connect(CDialogBuilder::Control<QPushButton>(*this, IDC_ABOUT_OK), &QPushButton::clicked, this,
            &CAboutDialog::accept);
    OnInitDialog();
}

bool CAboutDialog::OnInitDialog()
{
    return true;
}
