#include "sender/app/CommandLine.h"

#include "pages/DocumentFile.h"
#include "platform/PageFiles.h"
#include "platform/Text.h"
#include "sender/app/CommandSend.h"
#include "sender/app/SendwellApp.h"

namespace
{

constexpr const char* HELP_OPTION = "--help";
constexpr const char* SHORT_HELP_OPTION = "-h";
constexpr const char* END_OF_OPTIONS = "--";
constexpr const char* CHECK_NOTICES_OPTION = "--check-notices";

SLaunch Refused(const std::string& strMessage)
{
    return SLaunch{ELaunch::Refused, {}, strMessage};
}

} // namespace

SLaunch ParseCommandLine(const QStringList& aArgs)
{
    // A send without a window reads its own options.
    for (const QString& strArg : aArgs)
        if (strArg == QLatin1String(END_OF_OPTIONS) || strArg == QLatin1String(SEND_OPTION))
        {
            if (strArg == QLatin1String(SEND_OPTION))
                return SLaunch{ELaunch::Send, {}, {}};
            break;
        }
    bool bHelp = false;
    bool bSent = false;
    bool bCheckNotices = false;
    bool bFilesOnly = false;
    QStringList aFiles;
    for (const QString& strArg : aArgs)
    {
        if (bFilesOnly || !strArg.startsWith(QLatin1Char('-')))
            aFiles << strArg;
        else if (strArg == QLatin1String(END_OF_OPTIONS))
            bFilesOnly = true;
        else if (strArg == QLatin1String(HELP_OPTION) || strArg == QLatin1String(SHORT_HELP_OPTION))
            bHelp = true;
        else if (strArg == QLatin1String(SENT_FAXES_OPTION))
            bSent = true;
        else if (strArg == QLatin1String(CHECK_NOTICES_OPTION))
            bCheckNotices = true;
        else
        {
            const std::string strShown = platform::PrintableUtf8(strArg.toStdString());
            return Refused("there is no option " + strShown +
                           ". A file whose name begins with \"-\" is given after \"--\" (Sendwell -- " +
                           strShown + ") or as ./" + strShown + ".");
        }
    }
    if (bHelp)
        return SLaunch{ELaunch::Help, {}, {}};
    if (aFiles.size() > 1)
        return Refused("it takes one document file at a time, and " + std::to_string(aFiles.size()) +
                       " were given.");
    if (aFiles.size() == 1 && aFiles.front().isEmpty())
        return Refused("the file name is empty.");
    if (bSent && !aFiles.isEmpty())
        return Refused("--sent opens the sent faxes and takes no file.");
    if (bCheckNotices && (bSent || !aFiles.isEmpty()))
        return Refused("--check-notices runs alone, without a file or another option.");
    if (bCheckNotices)
        return SLaunch{ELaunch::CheckNotices, {}, {}};
    if (bSent)
        return SLaunch{ELaunch::SentFaxes, {}, {}};
    if (aFiles.size() == 1)
        return SLaunch{ELaunch::Document, aFiles.front().toStdString(), {}};
    return SLaunch{};
}

bool IsCheckNoticesLaunch(int argc, const char* const* argv)
{
    QStringList aArgs;
    for (int n = 1; n < argc; ++n)
        aArgs << QString::fromLocal8Bit(argv[n]);
    return ParseCommandLine(aArgs).m_eLaunch == ELaunch::CheckNotices;
}

std::string CommandLineHelp()
{
    return std::string("Usage: Sendwell [FILE]\n") +
           "       Sendwell --sent\n"
           "       Sendwell --check-notices\n"
           "Opens the fax dialog with the pages last printed to the fax printer or, with FILE, the\n"
           "pages of that document: PDF, PostScript, a PNG, JPEG or TIFF image, or plain text in UTF-8,\n"
           "of at most " +
           std::to_string(platform::MAX_PAGES) + " pages (an image of at most " +
           std::to_string(driver::MAX_IMAGE_PIXELS / 1'000'000) +
           " million pixels). Cancel or Escape stops\n"
           "its rendering.\n"
           "\n"
           "  --sent   show the sent faxes; their Send again opens the dialog with a fax's pages\n"
           "  --check-notices  look once, without a window, for the gateway's status notices in\n"
           "           the incoming mail folder set in Config (Pagewatch runs it every few minutes)\n"
           "  --help   show this text\n"
           "  --       what follows is a file name, even if it begins with \"-\"\n"
           "\n"
           "A file whose name begins with \"-\" is given after \"--\" (Sendwell -- -notes.txt) or as\n"
           "./-notes.txt.\n"
           "\n" +
           CommandSendHelp();
}
