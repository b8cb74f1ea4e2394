#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

// The device URI of the fax printer's queue. The queue is shared by every user of the
// computer, and its URI names nobody: each job's pages go to the user who printed it, into
// the root that user registered (see CUserRegistration):
//   vellumfax:/
// Older installations named one user's root and that user, whose files the pages became:
//   vellumfax:/home/ada/.local/share/vellum?uid=1000
// Such a queue still takes jobs of that user only; the pages go to their registered root all
// the same. The path is percent-encoded, so that any folder name survives the spooler.
namespace driver
{

inline constexpr std::string_view DEVICE_SCHEME = "vellumfax";
inline constexpr std::string_view SHARED_DEVICE_URI = "vellumfax:/";

struct SDeviceUri
{
    std::filesystem::path m_root;
    // None: the shared queue's URI.
    std::optional<uid_t> m_nUid;

    bool IsShared() const { return !m_nUid.has_value(); }

    std::string Format() const;
    // None, with strError set, for anything that is not a complete URI of this form.
    static std::optional<SDeviceUri> Parse(std::string_view strUri, std::string& strError);
};

} // namespace driver
