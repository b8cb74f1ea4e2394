// One poll for notices of a folder of 10,000 mails of which 20 are new, against a private Dovecot
// on loopback (tests/support/private-dovecot.sh) with a certificate of the test CA: connect over
// TLS, sign in, EXAMINE, SEARCH SINCE, fetch the 20, read them with GMime and match them to 20
// faxes. The goal is under 1 s. The folder is filled and indexed once, before the timing; the
// poll reads no mark, so each run does the same work.
//   notice_bench [--benchmark_filter=...]
#include "sender/notice/NoticePoll.h"
#include "tests/support/PrivateDovecot.h"
#include "tests/support/TrustedTestCa.h"

#include <benchmark/benchmark.h>
#include <ctime>
#include <memory>

namespace
{

using namespace std::chrono_literals;

constexpr int OLD_MAILS = 9980;
constexpr int NEW_MAILS = 20;
constexpr std::int64_t DAY = 24 * 3600;
const char* const USER = "ann@example.org";
const char* const PASSWORD = "bench pass";

std::unique_ptr<CTrustedTestCa> g_pCa;
std::unique_ptr<CPrivateDovecot> g_pServer;
std::vector<SAwaitingFax> g_aFaxes;

std::string Mail(const std::string& strHeaders, const std::string& strSubject, std::int64_t nTime)
{
    char szDate[64];
    const std::time_t time = static_cast<std::time_t>(nTime);
    std::tm parts = {};
    ::gmtime_r(&time, &parts);
    std::strftime(szDate, sizeof szDate, "%a, %d %b %Y %H:%M:%S +0000", &parts);
    return "From: someone@example.org\nTo: ann@example.org\n" + strHeaders + "Date: " + szDate +
           "\nSubject: " + strSubject + "\n\n" + std::string(2000, 'x') + "\nSome text of the mail.\n";
}

std::string Prepare()
{
    if (std::string strMissing = CPrivateDovecot::Missing(); !strMissing.empty())
        return strMissing;
    g_pCa = std::make_unique<CTrustedTestCa>(VELLUM_TEST_CA_SCRIPT, "notice-bench-ca");
    if (!g_pCa->Failure().empty())
        return g_pCa->Failure();
    g_pServer =
        std::make_unique<CPrivateDovecot>(g_pCa->Certificate("good"), g_pCa->Key("good"), USER, PASSWORD);
    if (!g_pServer->Failure().empty())
        return g_pServer->Failure();
    const std::int64_t nNow = static_cast<std::int64_t>(std::time(nullptr));
    for (int i = 0; i < OLD_MAILS; ++i)
    {
        const std::int64_t nThen = nNow - 30 * DAY + i * 60;
        g_pServer->Deliver("INBOX", Mail("", "Old mail " + std::to_string(i), nThen), nThen);
    }
    for (int i = 0; i < NEW_MAILS; ++i)
    {
        SAwaitingFax fax;
        fax.m_nId = i + 1;
        fax.m_nSentAt = nNow - 3600;
        fax.m_strMessageId = "<fax" + std::to_string(i) + "@ann.example.org>";
        fax.m_strFaxNumber = "49301000" + std::to_string(100 + i);
        g_aFaxes.push_back(fax);
        g_pServer->Deliver("INBOX",
                           Mail("In-Reply-To: " + fax.m_strMessageId + "\n", "Fax delivered", nNow - 60));
    }
    return {};
}

SImapAccount Account()
{
    SImapAccount account;
    account.m_strServer = "127.0.0.1:" + std::to_string(g_pServer->TlsPort());
    account.m_strLogin = USER;
    account.m_strPassword = PASSWORD;
    return account;
}

// Fills and indexes the folder once for every repetition; empty when ready, else why not.
const std::string& Ready()
{
    static const std::string s_strFailure = []
    {
        std::string strFailure = Prepare();
        if (!strFailure.empty())
            return strFailure;
        // Dovecot indexes the new folder on the first look; that is not a poll's work.
        const SPollResult first = PollNotices(Account(), g_aFaxes, {}, 120s);
        if (first.m_eStatus != EPollStatus::Ok || first.m_aOutcomes.size() != NEW_MAILS)
            return "the first poll failed: " + first.m_strDetail;
        return std::string();
    }();
    return s_strFailure;
}

void BM_PollTenThousandMails(benchmark::State& state)
{
    if (!Ready().empty())
    {
        state.SkipWithError(Ready().c_str());
        return;
    }
    for (auto _ : state)
    {
        const SPollResult result = PollNotices(Account(), g_aFaxes, {}, 30s);
        if (result.m_aOutcomes.size() != NEW_MAILS)
            state.SkipWithError(("a poll failed: " + result.m_strDetail).c_str());
    }
}
BENCHMARK(BM_PollTenThousandMails)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5)
    ->Repetitions(5);

} // namespace

BENCHMARK_MAIN();
