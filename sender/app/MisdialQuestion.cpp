#include "sender/app/MisdialQuestion.h"

#include "platform/Message.h"
#include "platform/Text.h"
#include "sender/common/Branding.h"
#include "sender/send/MisdialGuard.h"
#include "sender/send/SendOperation.h"

#include <QMessageBox>
#include <QPushButton>

bool ConfirmLikelyMisdial(QWidget* pParent, const std::vector<SAddressEntry>& aBook,
                          const CGatewayTemplate& gateway, std::string& strName, std::string& strNumber)
{
    const std::optional<SMisdial> misdial = FindLikelyMisdial(aBook, strName, strNumber);
    if (!misdial)
        return true;
    const std::string strQuestion = MisdialQuestion(*misdial, strName, strNumber);
    // The book's entry is the default: a number the user has sent to before, never a stranger's.
    // An entry of a damaged book is checked like anything typed.
    const auto takeBook = [&]
    {
        std::string strBookName = misdial->m_strBookName;
        const ERecipientCheck eCheck = CheckRecipient(strBookName, misdial->m_strBookNumber, gateway);
        if (eCheck != ERecipientCheck::Ok)
        {
            platform::ShowMessage(PRODUCT_NAME,
                                  RecipientCheckText(eCheck, gateway, misdial->m_strBookNumber.size()),
                                  platform::EMessageIcon::Warning);
            return false;
        }
        strName = strBookName;
        strNumber = misdial->m_strBookNumber;
        return true;
    };
    if (platform::MessagesGoToLog())
    {
        platform::ShowMessage(PRODUCT_NAME, platform::PrintableUtf8(strQuestion),
                              platform::EMessageIcon::Warning);
        return takeBook();
    }
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(PRODUCT_NAME),
                    QString::fromStdString(platform::PrintableUtf8(strQuestion)), QMessageBox::Cancel,
                    pParent);
    box.setObjectName(QStringLiteral("misdial"));
    // The names and numbers come from the book file too: shown printable, "&" as itself.
    const auto shown = [](const std::string& strText)
    { return QString::fromStdString(platform::PrintableUtf8(strText)).replace('&', QStringLiteral("&&")); };
    QPushButton* pBook =
        box.addButton(QStringLiteral("&Yes, send to %1 at %2")
                          .arg(shown(misdial->m_strBookName), shown(misdial->m_strBookNumber)),
                      QMessageBox::AcceptRole);
    pBook->setObjectName(QStringLiteral("bookEntry"));
    QPushButton* pTyped =
        box.addButton(QStringLiteral("&No, send to %1 at %2").arg(shown(strName), shown(strNumber)),
                      QMessageBox::AcceptRole);
    pTyped->setObjectName(QStringLiteral("asTyped"));
    box.setDefaultButton(pBook);
    box.setEscapeButton(QMessageBox::Cancel);
    box.exec();
    if (box.clickedButton() == pBook)
        return takeBook();
    return box.clickedButton() == pTyped;
}
