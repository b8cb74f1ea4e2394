#pragma once

// The limits of the record of sent faxes (sender/record/SentFaxStore.h), kept with the
// settings beside quill.cfg (sender/store/ProviderSettings.h). Here, apart from the record,
// so that the settings are read and written without its database.

// A limit of 0: no limit, so that a limit that was never set on purpose removes nothing.
inline constexpr int SENT_NO_LIMIT = 0;

// How many faxes, and how many megabytes of page copies, are kept at most; the oldest go first.
struct SSentFaxLimits
{
    int m_nMaxFaxes = 1000;
    int m_nMaxMegabytes = 200;
};
