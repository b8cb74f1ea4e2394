#pragma once

#include "sender/store/SentFaxLimits.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QString;

// The faxes sent: one row each in an SQLite database (Qt SQL), and a folder each beside it
// with a copy of the fax page files that went out. Everything is the user's own: the folder
// 0700, the database and the copies 0600. Nothing here needs a window; it needs the Qt SQL
// SQLite driver and a QCoreApplication (Qt loads the driver as a plugin).
//
//   windows/system/sent/sent.db              the records (table sent_fax, PRAGMA user_version)
//   windows/system/sent/<time>-<random>/     quill1.tif ... quillN.tif of one fax

inline constexpr const char* SENT_FOLDER_NAME = "sent";
inline constexpr const char* SENT_DATABASE_NAME = "sent.db";
// The layout of table sent_fax; a database of a later version is read but never written.
// Version 2 adds cover_sent; a database of version 1 gains it on opening, its rows kept (one
// that may not be written is read as it is, its faxes sent without a cover). Version 3 adds
// what the gateway's status notices said of each fax (status, status_reason, notice_at,
// notice_subject, notice_lines) and table notice_poll; an earlier database gains them the same
// way, and one that may not be written reads its faxes as Sent.
inline constexpr int SENT_SCHEMA_VERSION = 3;
// How long after its send a fax awaits word from the gateway; after that it stays Sent.
inline constexpr std::int64_t NOTICE_WAIT_SECONDS = 3 * 24 * 60 * 60;
// How long a write waits for another process that holds the database.
inline constexpr int SENT_BUSY_TIMEOUT_MS = 2000;

std::filesystem::path SentFaxFolder();

// What is known of a fax's delivery, as stored (the numbers are those of the database).
enum class ESentStatus
{
    Sent = 0,      // the mail server took it; no word from the gateway
    Delivered = 1, // a notice said it arrived
    Failed = 2,    // a notice (or a bounce) said it did not
};

struct SSentFax
{
    std::int64_t m_nId = 0;
    // Seconds since 1970 (the Date of the mail).
    std::int64_t m_nSentAt = 0;
    std::string m_strRecipient;
    std::string m_strFaxNumber;
    std::string m_strGatewayAddress;
    int m_nPages = 0;
    std::uint64_t m_nMailBytes = 0;
    std::string m_strMessageId;
    // The server's whole reply to the end of the data, lines joined by "\n".
    std::string m_strServerReply;
    // The name of its folder of page copies, and what they take.
    std::string m_strFolder;
    std::uint64_t m_nFolderBytes = 0;
    // A cover page went out as page 1 (one of m_nPages).
    bool m_bCoverSent = false;
    // The word of the gateway's status notice, when one came: every text filtered and bounded
    // by the notice reader before it is stored.
    ESentStatus m_eStatus = ESentStatus::Sent;
    std::string m_strStatusReason; // for Failed: "busy", "no answer" ...
    std::int64_t m_nNoticeAt = 0;  // the notice's date, seconds since 1970; 0: none
    std::string m_strNoticeSubject;
    std::string m_strNoticeLines; // its first lines
};

// The word a notice gave of one fax, to be stored (ApplyNoticeWord).
struct SFaxWord
{
    std::int64_t m_nFaxId = 0;
    ESentStatus m_eStatus = ESentStatus::Sent;
    std::string m_strReason;
    std::int64_t m_nNoticeAt = 0;
    std::string m_strSubject;
    std::string m_strFirstLines;
};

// Where the polls of one mailbox folder stand (table notice_poll, one row per account and
// folder): the mark of the last message read, and the failures since the last poll that worked.
struct SNoticePollState
{
    std::string m_strAccount;         // "login@server/folder"
    std::uint32_t m_nUidValidity = 0; // 0: no mark yet
    std::uint32_t m_nLastUid = 0;
    int m_nFailures = 0;          // in a row; 0 after a poll that worked
    std::int64_t m_nNextTry = 0;  // no poll before this time (seconds since 1970)
    std::string m_strFailure;     // the last failure, for the user; empty: none
    bool m_bFailureShown = false; // the sent faxes window has shown it
};

class CSentFaxStore
{
public:
    explicit CSentFaxStore(std::filesystem::path folder = SentFaxFolder());
    CSentFaxStore(const CSentFaxStore&) = delete;
    CSentFaxStore& operator=(const CSentFaxStore&) = delete;
    ~CSentFaxStore();

    // Makes the folder and the database where they are missing and checks the schema. A
    // database file whose owner may not write it is opened read-only. False with strError
    // when the database cannot be used; the file is then left exactly as it was. The errors
    // are written for the user: they name the file, not its whole path, and hold no text of
    // the database driver.
    [[nodiscard]] bool Open(std::string& strError);
    bool IsOpen() const { return m_bOpen; }
    bool IsReadOnly() const { return m_bReadOnly; }
    // After Open failed: the file is not a record this store can read (not a database, damaged,
    // or without the columns of table sent_fax), as opposed to locked or out of reach.
    bool IsDamaged() const { return m_bDamaged; }

    // Keeps a damaged database aside, renamed "sent-damaged-<local date and time>.db" (its
    // journal files with it), and opens a new, empty one in its place. Nothing is deleted; the
    // page copies stay in their folders. strAsideName is the new name of the old file.
    [[nodiscard]] bool StartNewRecord(std::string& strAsideName, std::string& strError);

    // Records a sent fax: copies its page files into a new folder of its own, then in one
    // transaction inserts the row and removes the oldest rows beyond the limits; their folders
    // go after the commit. On failure nothing is left behind (the new folder is removed) and
    // the database is as it was. Sets fax.m_nId, m_strFolder and m_nFolderBytes.
    [[nodiscard]] bool Add(SSentFax& fax, const std::vector<std::filesystem::path>& aPages,
                           const SSentFaxLimits& limits, std::string& strError);

    // Newest first. strSearch, when not empty, must occur in the name, the number or the
    // Message-ID (ignoring case for ASCII letters). In the name, blanks and dots of the search
    // also match the underscores that the send wrote in their place ("Rec Test", "Rec_Test").
    std::vector<SSentFax> List(std::string_view strSearch = {}, int nOffset = 0, int nLimit = -1) const;
    int Count(std::string_view strSearch = {}) const;
    std::optional<SSentFax> Find(std::int64_t nId) const;

    // The faxes sent since nNow - NOTICE_WAIT_SECONDS that have no word yet, oldest first.
    std::vector<SSentFax> AwaitingWord(std::int64_t nNow) const;
    // In one transaction: stores the word of each fax that is still Sent (a fax that has word
    // already keeps it), and the poll state. Nothing is changed when anything fails.
    [[nodiscard]] bool ApplyNoticeWord(const std::vector<SFaxWord>& aWords, const SNoticePollState& state,
                                       std::string& strError);
    // The state of an account's polls; a fresh state (no mark, no failure) when there is none.
    SNoticePollState PollState(const std::string& strAccount) const;
    [[nodiscard]] bool WritePollState(const SNoticePollState& state, std::string& strError);

    // The copy of page nPage (from 1) of a fax.
    std::filesystem::path PagePath(const SSentFax& fax, int nPage) const;

    // Removes a fax's row, then its folder.
    [[nodiscard]] bool Remove(std::int64_t nId, std::string& strError);
    // Removes the oldest faxes until both limits hold.
    [[nodiscard]] bool Prune(const SSentFaxLimits& limits, std::string& strError);
    // How many faxes Prune would remove; nullopt when the database cannot be read.
    std::optional<int> CountBeyondLimits(const SSentFaxLimits& limits) const;

    const std::filesystem::path& Folder() const { return m_folder; }
    std::filesystem::path DatabasePath() const { return m_folder / SENT_DATABASE_NAME; }

private:
    bool Exec(const char* pszSql, std::string& strError);
    bool HasColumns(std::string& strError);
    // Brings a database of an earlier layout to this one, in one transaction.
    bool Upgrade(int nVersion, std::string& strError);
    // The columns that List and Find read, as this database has them.
    QString SelectColumns() const;
    // Rows to remove (oldest first) so that the limits hold, with their folders.
    bool SelectBeyondLimits(const SSentFaxLimits& limits, std::vector<std::int64_t>& aIds,
                            std::vector<std::string>& aFolders, std::string& strError) const;
    bool DeleteRows(const std::vector<std::int64_t>& aIds, std::string& strError);
    void RemoveFolders(const std::vector<std::string>& aFolders);
    void Close();

    std::filesystem::path m_folder;
    std::string m_strConnection;
    bool m_bOpen = false;
    bool m_bReadOnly = false;
    bool m_bDamaged = false;
    bool WritePollStateRow(const SNoticePollState& state, std::string& strError);

    // The layout of the database as opened: a read-only one of an earlier version lacks the
    // later columns, which read as their defaults (no cover, Sent).
    int m_nLayout = SENT_SCHEMA_VERSION;
};
