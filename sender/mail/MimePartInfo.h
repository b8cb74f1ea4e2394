#pragma once

#include <cstdint>
#include <string>

// One entry of a message's part list: which agent writes it and what it is given.
struct CMimePartInfo
{
    std::int32_t m_nType = 0; // AGENT_PLAIN_TEXT or AGENT_TIFF_ATTACHMENT
    std::string m_strParams;  // appended to the part's content type by its agent
    std::string m_strText;    // the path of the file to attach, or the text of a text part
};
