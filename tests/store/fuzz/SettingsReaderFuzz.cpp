// libFuzzer target: the settings file reader on any bytes.

#include "sender/store/SettingsFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    CArchiveIn in(std::string_view(reinterpret_cast<const char*>(pData), nSize));
    std::string strServer = "unset", strEmail = "unset", strName = "unset";
    if (!ReadSettingsFrom(in, strServer, strEmail, strName))
    {
        // A file that cannot be read leaves the settings as they were.
        if (strServer != "unset" || strEmail != "unset" || strName != "unset")
            std::abort();
        return 0;
    }
    // Whatever was read is written back in the narrow form and reads the same again.
    const auto strBytes = EncodeSettings(strServer, strEmail, strName);
    if (!strBytes)
        std::abort();
    CArchiveIn again(*strBytes);
    std::string strServer2, strEmail2, strName2;
    if (!ReadSettingsFrom(again, strServer2, strEmail2, strName2) || strServer2 != strServer ||
        strEmail2 != strEmail || strName2 != strName || again.Remaining() != 0u)
        std::abort();
    return 0;
}
