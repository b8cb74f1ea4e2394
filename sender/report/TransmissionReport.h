#pragma once

#include "sender/record/SentFaxStore.h"

#include <QImage>
#include <QPageLayout>
#include <filesystem>
#include <string>

class QPainter;

// A sent fax's transmission report, one page like a fax machine's: when it was sent, to whom
// and through which gateway address, its pages and mail size, its Message-ID, the mail
// server's reply and what is known of its delivery, with a reduced image of the first page.
// Text from the record is drawn as plain text, never interpreted, and cut with a visible mark
// where it would not fit.
class CTransmissionReport
{
public:
    // Takes the fax and reads its first page from firstPage (the kept copy; empty for a fax
    // without pages). False with strError, naming the fax and the page, when that page is
    // missing or cannot be decoded.
    [[nodiscard]] bool Load(const SSentFax& fax, const std::filesystem::path& firstPage,
                            std::string& strError);

    // Draws the report on the painter's present page, within the layout's paint rectangle;
    // the painter works in its device's units (a PDF writer's, a printer's).
    void Draw(QPainter& painter, const QPageLayout& layout) const;

    // Writes the report as a one-page PDF (A4, or Letter where the locale measures in inches)
    // in place of target, which stays as it was when anything fails.
    [[nodiscard]] bool WritePdf(const std::filesystem::path& target, std::string& strError) const;

    // The report's page when it goes to a PDF.
    static QPageLayout DefaultLayout();

private:
    SSentFax m_fax;
    QImage m_firstPage;
};
