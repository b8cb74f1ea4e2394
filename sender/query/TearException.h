#pragma once

#include <exception>

// Ends a coverage query early. The query catches it around all of its steps and then
// runs its end steps as after any other outcome; the code says why it ended.
class CTearException : public std::exception
{
public:
    // The request could not be set up; its message has already been shown.
    static constexpr int TEAR_REQUEST_NOT_SET_UP = 1;
    // A redirect could not be followed; nothing is shown.
    static constexpr int TEAR_REDIRECT_NOT_FOLLOWED = 2;

    CTearException() = default;
    explicit CTearException(int nCode) : m_nCode(nCode) {}

    [[nodiscard]] int Code() const noexcept { return m_nCode; }
    [[nodiscard]] const char* what() const noexcept override { return "coverage query torn off"; }

    int m_nCode = 0;
};

[[noreturn]] inline void ThrowTearException(int nCode)
{
    throw CTearException(nCode);
}
