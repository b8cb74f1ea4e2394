#pragma once

#include "platform/Process.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

// The certificates of tests/support/test-ca.sh, made fresh into a folder of their own, with
// the test CA as the only authority that TLS clients in this process trust while the object
// lives: OpenSSL's default verify paths read SSL_CERT_FILE, and SSL_CERT_DIR names an empty
// folder. The environment is put back and the folder removed afterwards.
class CTrustedTestCa
{
public:
    CTrustedTestCa(const std::string& strScript, const std::string& strName)
        : m_dir(std::filesystem::temp_directory_path() / (strName + "-" + std::to_string(::getpid())))
    {
        using namespace std::chrono_literals;
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir / "no-certs");
        platform::SRunOptions options;
        options.m_durTimeout = 60s;
        options.m_eOutput = platform::SRunOptions::EOutput::Capture;
        const auto made = platform::RunProgram({strScript, (m_dir / "certs").string()}, options);
        if (!made.Succeeded())
        {
            m_strFailure = made.Describe() + "\n" + made.m_strOutput;
            return;
        }
        Remember("SSL_CERT_FILE", (m_dir / "certs" / "ca.pem").string());
        Remember("SSL_CERT_DIR", (m_dir / "no-certs").string());
    }
    CTrustedTestCa(const CTrustedTestCa&) = delete;
    CTrustedTestCa& operator=(const CTrustedTestCa&) = delete;
    ~CTrustedTestCa()
    {
        for (const auto& [strName, value] : m_aSaved)
            value ? ::setenv(strName.c_str(), value->c_str(), 1) : ::unsetenv(strName.c_str());
        std::error_code error;
        std::filesystem::remove_all(m_dir, error);
    }

    // Empty when the certificates were made; else what the script said.
    const std::string& Failure() const { return m_strFailure; }
    // "good", "other", "self", "expired", "future": the leaf's certificate and key files.
    std::string Certificate(const std::string& strLeaf) const
    {
        return (m_dir / "certs" / (strLeaf + ".pem")).string();
    }
    std::string Key(const std::string& strLeaf) const
    {
        return (m_dir / "certs" / (strLeaf + ".key")).string();
    }

private:
    void Remember(const std::string& strName, const std::string& strValue)
    {
        const char* pszOld = std::getenv(strName.c_str());
        m_aSaved.emplace_back(strName, pszOld ? std::optional<std::string>(pszOld) : std::nullopt);
        ::setenv(strName.c_str(), strValue.c_str(), 1);
    }

    std::filesystem::path m_dir;
    std::string m_strFailure;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_aSaved;
};
