#pragma once

#include <string>

// One recipient of a mail: the address, and the display name in front of it (may be empty).
struct CMailRecipient
{
    std::string m_strAddress;
    std::string m_strName;
};
