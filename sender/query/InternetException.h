#pragma once

#include <exception>
#include <string>

// A failure of the network transfer itself: name resolution, connection, sending,
// receiving before a reply could be read whole, or a time limit. The coverage query catches it
// and ends without a message, as when there is no network at all.
class CInternetException : public std::exception
{
public:
    explicit CInternetException(std::string strError) : m_strError(std::move(strError)) {}

    [[nodiscard]] const char* what() const noexcept override { return m_strError.c_str(); }

    std::string m_strError;
};
