#pragma once

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

// A fresh folder of its own for each test, named after the test and unique to the run (two
// runs of one test at once do not meet), removed afterwards.
class CTempFolderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const auto* pInfo = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string strTemplate =
            (std::filesystem::path(::testing::TempDir()) /
             (std::string("vellum-") + pInfo->test_suite_name() + "-" + pInfo->name() + "-XXXXXX"))
                .string();
        ASSERT_NE(::mkdtemp(strTemplate.data()), nullptr) << "cannot make a folder for the test";
        m_dir = strTemplate;
    }
    void TearDown() override
    {
        std::error_code error;
        std::filesystem::permissions(m_dir, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, error);
        std::filesystem::remove_all(m_dir, error);
    }

    std::filesystem::path m_dir;
};

// Makes writes beyond nBytes fail with EFBIG while it lives, as a full disk would, for
// root as well as for other users.
class CFileSizeLimit
{
public:
    explicit CFileSizeLimit(rlim_t nBytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = nBytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~CFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    CFileSizeLimit(const CFileSizeLimit&) = delete;
    CFileSizeLimit& operator=(const CFileSizeLimit&) = delete;

private:
    rlimit m_old = {};
    void (*m_oldHandler)(int) = nullptr;
};
