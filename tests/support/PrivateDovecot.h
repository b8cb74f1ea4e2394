#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// A private Dovecot IMAP server (private-dovecot.sh) on 127.0.0.1 for as long as the object
// lives: TLS from the first byte on one port, STARTTLS on another, one user with a password, the
// mail a Maildir that the test fills with files. Its certificate and key are the caller's (the
// test CA's, through CTrustedTestCa). The password goes to the script in its environment only.
class CPrivateDovecot
{
public:
    // Why no Dovecot can run here (it is not installed), or empty.
    static std::string Missing();

    CPrivateDovecot(const std::string& strCertificate, const std::string& strKey, const std::string& strUser,
                    const std::string& strPassword);
    CPrivateDovecot(const CPrivateDovecot&) = delete;
    CPrivateDovecot& operator=(const CPrivateDovecot&) = delete;
    ~CPrivateDovecot();

    // Empty once the server takes connections; else what went wrong, with its log.
    const std::string& Failure() const { return m_strFailure; }
    int TlsPort() const { return m_nTlsPort; }
    int StartTlsPort() const { return m_nStartTlsPort; }

    // Puts a message into folder strFolder ("INBOX" or a folder of its own, made on first use) as
    // a new mail that arrived at nArrival (seconds since 1970; 0: now). Lines may end in LF.
    void Deliver(const std::string& strFolder, const std::string& strMessage, std::int64_t nArrival = 0);
    // Dovecot's own view of every message's flags in the folder ("uid flags" for each), from
    // doveadm; empty when doveadm failed.
    std::string Flags(const std::string& strFolder) const;

private:
    std::filesystem::path FolderPath(const std::string& strFolder);

    std::filesystem::path m_dir;
    std::string m_strUser;
    std::string m_strFailure;
    int m_nTlsPort = 0;
    int m_nStartTlsPort = 0;
    unsigned m_nDelivered = 0;
};
