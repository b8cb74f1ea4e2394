#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

// The device URI of the fax printer's queue. It names the folder the page files go to
// (the installing user's VELLUM_ROOT) and that user, whose files they become:
//   vellumfax:/home/ada/.local/share/vellum?uid=1000
// The path is percent-encoded, so that any folder name survives the spooler.
namespace driver
{

inline constexpr std::string_view DEVICE_SCHEME = "vellumfax";

struct SDeviceUri
{
    std::filesystem::path m_root;
    uid_t m_nUid = 0;

    std::string Format() const;
    // None, with strError set, for anything that is not a complete URI of this form.
    static std::optional<SDeviceUri> Parse(std::string_view strUri, std::string& strError);
};

} // namespace driver
