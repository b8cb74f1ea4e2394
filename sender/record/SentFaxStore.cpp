#include "sender/record/SentFaxStore.h"

#include "platform/Roots.h"
#include "platform/Text.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// The layout of version 1; Upgrade brings it to the present one.
constexpr const char* SQL_CREATE_TABLE = "CREATE TABLE IF NOT EXISTS sent_fax ("
                                         " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                                         " sent_at INTEGER NOT NULL,"
                                         " recipient TEXT NOT NULL,"
                                         " fax_number TEXT NOT NULL,"
                                         " gateway_address TEXT NOT NULL,"
                                         " pages INTEGER NOT NULL,"
                                         " mail_bytes INTEGER NOT NULL,"
                                         " message_id TEXT NOT NULL,"
                                         " server_reply TEXT NOT NULL,"
                                         " folder TEXT NOT NULL UNIQUE,"
                                         " folder_bytes INTEGER NOT NULL)";
// Version 2. The rows there are keep their values and read as sent without a cover.
constexpr const char* SQL_ADD_COVER_SENT =
    "ALTER TABLE sent_fax ADD COLUMN cover_sent INTEGER NOT NULL DEFAULT 0";
// Version 3: the word of the gateway's notices, and where the polls stand. Rows there read as
// Sent.
constexpr const char* SQL_ADD_NOTICE_COLUMNS[] = {
    "ALTER TABLE sent_fax ADD COLUMN status INTEGER NOT NULL DEFAULT 0",
    "ALTER TABLE sent_fax ADD COLUMN status_reason TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE sent_fax ADD COLUMN notice_at INTEGER NOT NULL DEFAULT 0",
    "ALTER TABLE sent_fax ADD COLUMN notice_subject TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE sent_fax ADD COLUMN notice_lines TEXT NOT NULL DEFAULT ''",
    "CREATE TABLE IF NOT EXISTS notice_poll ("
    " account TEXT PRIMARY KEY,"
    " uid_validity INTEGER NOT NULL,"
    " last_uid INTEGER NOT NULL,"
    " failures INTEGER NOT NULL,"
    " next_try INTEGER NOT NULL,"
    " failure_text TEXT NOT NULL,"
    " failure_shown INTEGER NOT NULL)",
};
constexpr const char* SQL_CREATE_INDEX =
    "CREATE INDEX IF NOT EXISTS sent_fax_newest ON sent_fax (sent_at, id)";
constexpr const char* SQL_COLUMNS = "id, sent_at, recipient, fax_number, gateway_address, pages, mail_bytes, "
                                    "message_id, server_reply, folder, folder_bytes";
constexpr const char* SQL_COVER_COLUMN = ", cover_sent";
constexpr const char* SQL_NO_COVER_COLUMN = ", 0";
constexpr const char* SQL_NOTICE_COLUMNS = ", status, status_reason, notice_at, notice_subject, notice_lines";
constexpr const char* SQL_NO_NOTICE_COLUMNS = ", 0, '', 0, '', ''";
// The name is compared as the send wrote it, blanks and dots as underscores, and so is the
// name pattern (ContainsPattern); the number and the Message-ID are compared as they are.
constexpr const char* SQL_SEARCH =
    " WHERE replace(replace(recipient, ' ', '_'), '.', '_') LIKE :name ESCAPE '\\'"
    " OR fax_number LIKE :search ESCAPE '\\'"
    " OR message_id LIKE :search ESCAPE '\\'";
constexpr const char* SQL_NEWEST_FIRST = " ORDER BY sent_at DESC, id DESC";

constexpr std::uint64_t BYTES_PER_MEGABYTE = 1024 * 1024;
constexpr int FOLDER_NAME_ATTEMPTS = 16;
constexpr std::size_t COPY_BUFFER_BYTES = 64 * 1024;
// Damaged files kept aside get a number after their time when the name is taken.
constexpr int ASIDE_NAME_ATTEMPTS = 100;
constexpr const char* JOURNAL_SUFFIXES[] = {"-journal", "-wal", "-shm"};

// SQLite's primary result codes that the messages tell apart.
constexpr int SQLITE_CODE_PERM = 3;
constexpr int SQLITE_CODE_BUSY = 5;
constexpr int SQLITE_CODE_LOCKED = 6;
constexpr int SQLITE_CODE_READONLY = 8;
constexpr int SQLITE_CODE_CORRUPT = 11;
constexpr int SQLITE_CODE_FULL = 13;
constexpr int SQLITE_CODE_CANTOPEN = 14;
constexpr int SQLITE_CODE_NOTADB = 26;

std::atomic<int> s_nConnections{0};

// A folder name this store made: the time and random hex digits. Anything else read from the
// database (a damaged or foreign one) is never used as a path.
bool IsFolderName(const std::string& strName)
{
    return !strName.empty() && strName.size() <= 64 &&
           std::all_of(strName.begin(), strName.end(),
                       [](char ch)
                       { return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || ch == '-'; });
}

std::string NewFolderName(std::int64_t nSentAt)
{
    static thread_local std::mt19937_64 random{std::random_device{}()};
    const std::time_t time = static_cast<std::time_t>(nSentAt);
    std::tm parts{};
    ::gmtime_r(&time, &parts);
    char name[64];
    std::snprintf(name, sizeof(name), "%04d%02d%02d-%02d%02d%02d-%016llx", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<unsigned long long>(random()));
    return name;
}

// The database named for the user: its file name, not the whole path of the user's folders.
std::string RecordName()
{
    return std::string("the record of sent faxes (") + SENT_DATABASE_NAME + ")";
}

int SqliteCode(const QSqlError& error)
{
    return error.nativeErrorCode().toInt() & 0xff;
}

bool IsDamage(const QSqlError& error)
{
    const int nCode = SqliteCode(error);
    return nCode == SQLITE_CODE_CORRUPT || nCode == SQLITE_CODE_NOTADB;
}

// What went wrong, in the user's words. The driver's own text quotes statements and paths and
// says little to a user, so SQLite's result code chooses the words.
std::string DatabaseProblem(const QSqlError& error)
{
    switch (SqliteCode(error))
    {
    case SQLITE_CODE_BUSY:
    case SQLITE_CODE_LOCKED:
        return RecordName() + " is locked by another program; try again in a moment";
    case SQLITE_CODE_CORRUPT:
    case SQLITE_CODE_NOTADB:
        return RecordName() + " is damaged";
    case SQLITE_CODE_FULL:
        return RecordName() + " cannot grow: the disk is full";
    case SQLITE_CODE_PERM:
    case SQLITE_CODE_READONLY:
        return RecordName() + " may not be written";
    case SQLITE_CODE_CANTOPEN:
        return RecordName() + " cannot be opened";
    default:
        return RecordName() + " cannot be read or written";
    }
}

// "sent-damaged-20260309-140301.db", with "-2" and on when that is taken.
std::string AsideName(std::time_t now, int nAttempt)
{
    std::tm parts{};
    ::localtime_r(&now, &parts);
    char name[64];
    std::snprintf(name, sizeof(name), "sent-damaged-%04d%02d%02d-%02d%02d%02d", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return std::string(name) + (nAttempt > 0 ? "-" + std::to_string(nAttempt + 1) : "") + ".db";
}

// Renames without ever replacing a file that is there.
bool RenameNew(const std::filesystem::path& from, const std::filesystem::path& to)
{
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

// Copies a regular file into a new file of the user's own (0600); fails rather than replace
// anything, and rather than wait on a FIFO or a device put in the file's place.
bool CopyPrivateFile(const std::filesystem::path& from, const std::filesystem::path& to,
                     std::uint64_t& nBytes, std::string& strError)
{
    const std::string strFrom = from.filename().string();
    const std::string strTo = "the copy of " + strFrom;
    const int inFd = ::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (inFd < 0)
    {
        strError = platform::ErrnoText("cannot read " + strFrom);
        return false;
    }
    struct stat info = {};
    if (::fstat(inFd, &info) != 0 || !S_ISREG(info.st_mode))
    {
        strError = strFrom + " is not a regular file";
        ::close(inFd);
        return false;
    }
    const int outFd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (outFd < 0)
    {
        strError = platform::ErrnoText("cannot write " + strTo);
        ::close(inFd);
        return false;
    }
    std::vector<char> buffer(COPY_BUFFER_BYTES);
    bool bOk = true;
    for (;;)
    {
        const ssize_t nRead = ::read(inFd, buffer.data(), buffer.size());
        if (nRead == 0)
            break;
        if (nRead < 0)
        {
            if (errno == EINTR)
                continue;
            strError = platform::ErrnoText("cannot read " + strFrom);
            bOk = false;
            break;
        }
        for (ssize_t nDone = 0; nDone < nRead;)
        {
            const ssize_t nWritten =
                ::write(outFd, buffer.data() + nDone, static_cast<std::size_t>(nRead - nDone));
            if (nWritten < 0 && errno == EINTR)
                continue;
            if (nWritten <= 0)
            {
                strError = platform::ErrnoText("cannot write " + strTo);
                bOk = false;
                break;
            }
            nDone += nWritten;
        }
        if (!bOk)
            break;
        nBytes += static_cast<std::uint64_t>(nRead);
    }
    ::close(inFd);
    if (::close(outFd) != 0 && bOk)
    {
        strError = platform::ErrnoText("cannot write " + strTo);
        bOk = false;
    }
    return bOk;
}

SSentFax FaxFromQuery(const QSqlQuery& query)
{
    SSentFax fax;
    fax.m_nId = query.value(0).toLongLong();
    fax.m_nSentAt = query.value(1).toLongLong();
    fax.m_strRecipient = query.value(2).toString().toStdString();
    fax.m_strFaxNumber = query.value(3).toString().toStdString();
    fax.m_strGatewayAddress = query.value(4).toString().toStdString();
    fax.m_nPages = query.value(5).toInt();
    fax.m_nMailBytes = query.value(6).toULongLong();
    fax.m_strMessageId = query.value(7).toString().toStdString();
    fax.m_strServerReply = query.value(8).toString().toStdString();
    fax.m_strFolder = query.value(9).toString().toStdString();
    fax.m_nFolderBytes = query.value(10).toULongLong();
    fax.m_bCoverSent = query.value(11).toLongLong() != 0;
    // A status this version does not know (a later one's) reads as Sent.
    const qlonglong nStatus = query.value(12).toLongLong();
    fax.m_eStatus = nStatus == static_cast<int>(ESentStatus::Delivered) ? ESentStatus::Delivered
                    : nStatus == static_cast<int>(ESentStatus::Failed)  ? ESentStatus::Failed
                                                                        : ESentStatus::Sent;
    fax.m_strStatusReason = query.value(13).toString().toStdString();
    fax.m_nNoticeAt = query.value(14).toLongLong();
    fax.m_strNoticeSubject = query.value(15).toString().toStdString();
    fax.m_strNoticeLines = query.value(16).toString().toStdString();
    return fax;
}

// The LIKE pattern for "contains": the search's own % _ and \ are taken literally. For a name,
// blanks and dots become the underscores that the send writes in their place.
QString ContainsPattern(std::string_view strSearch, bool bName = false)
{
    QString strPattern = QStringLiteral("%");
    for (QChar ch : QString::fromUtf8(strSearch.data(), static_cast<qsizetype>(strSearch.size())))
    {
        if (bName && (ch == u' ' || ch == u'.'))
            ch = u'_';
        if (ch == u'%' || ch == u'_' || ch == u'\\')
            strPattern += u'\\';
        strPattern += ch;
    }
    return strPattern + u'%';
}

void BindSearch(QSqlQuery& query, std::string_view strSearch)
{
    query.bindValue(QStringLiteral(":name"), ContainsPattern(strSearch, true));
    query.bindValue(QStringLiteral(":search"), ContainsPattern(strSearch));
}

} // namespace

std::filesystem::path SentFaxFolder()
{
    return platform::SystemDirectory() / SENT_FOLDER_NAME;
}

CSentFaxStore::CSentFaxStore(std::filesystem::path folder)
    : m_folder(std::move(folder)), m_strConnection("vellum-sent-" + std::to_string(++s_nConnections))
{
}

CSentFaxStore::~CSentFaxStore()
{
    if (QSqlDatabase::contains(QString::fromStdString(m_strConnection)))
    {
        {
            QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(m_strConnection), false);
            db.close();
        }
        QSqlDatabase::removeDatabase(QString::fromStdString(m_strConnection));
    }
}

void CSentFaxStore::Close()
{
    m_bOpen = false;
    if (QSqlDatabase::contains(QString::fromStdString(m_strConnection)))
        QSqlDatabase::database(QString::fromStdString(m_strConnection), false).close();
}

bool CSentFaxStore::Exec(const char* pszSql, std::string& strError)
{
    QSqlQuery query(QSqlDatabase::database(QString::fromStdString(m_strConnection), false));
    if (query.exec(QString::fromLatin1(pszSql)))
        return true;
    strError = DatabaseProblem(query.lastError());
    m_bDamaged = IsDamage(query.lastError());
    return false;
}

bool CSentFaxStore::HasColumns(std::string& strError)
{
    QSqlQuery query(QSqlDatabase::database(QString::fromStdString(m_strConnection), false));
    if (query.exec(QStringLiteral("SELECT ") + SelectColumns() + QStringLiteral(" FROM sent_fax LIMIT 0")))
        return true;
    const int nCode = SqliteCode(query.lastError());
    if (nCode == SQLITE_CODE_BUSY || nCode == SQLITE_CODE_LOCKED || IsDamage(query.lastError()))
    {
        strError = DatabaseProblem(query.lastError());
        m_bDamaged = IsDamage(query.lastError());
        return false;
    }
    // Any other failure of a plain SELECT of the columns: the table is not what this store wrote.
    strError =
        RecordName() + " is damaged or was made by another program: it lacks columns of the sent faxes";
    m_bDamaged = true;
    return false;
}

bool CSentFaxStore::Open(std::string& strError)
{
    m_bOpen = false;
    m_bDamaged = false;
    std::error_code error;
    std::filesystem::create_directories(m_folder, error);
    if (error)
    {
        strError = "cannot make the folder of sent faxes: " + error.message();
        return false;
    }
    struct stat folderInfo = {};
    if (::lstat(m_folder.c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode))
    {
        strError = "the folder of sent faxes (" + m_folder.filename().string() + ") is not a folder";
        return false;
    }
    // The records and copies are the user's own, whatever the folder was made with.
    if ((folderInfo.st_mode & 07777) != 0700 && ::chmod(m_folder.c_str(), 0700) != 0)
    {
        strError = platform::ErrnoText("cannot make the folder of sent faxes private");
        return false;
    }

    const auto dbPath = DatabasePath();
    struct stat info = {};
    if (::lstat(dbPath.c_str(), &info) != 0)
    {
        // SQLite would make the file with the usual mode; it is made private first.
        const int fd = ::open(dbPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && errno != EEXIST)
        {
            strError = platform::ErrnoText("cannot make " + RecordName());
            return false;
        }
        if (fd >= 0)
            ::close(fd);
        if (::lstat(dbPath.c_str(), &info) != 0)
        {
            strError = platform::ErrnoText("cannot read " + RecordName());
            return false;
        }
    }
    if (!S_ISREG(info.st_mode))
    {
        strError = RecordName() + " is not a regular file";
        m_bDamaged = true;
        return false;
    }
    // A file its owner may not write was made read-only on purpose: it is read, not written,
    // even by root, who could.
    m_bReadOnly = (info.st_mode & S_IWUSR) == 0;
    if (!m_bReadOnly && (info.st_mode & 077) != 0)
        (void)::chmod(dbPath.c_str(), info.st_mode & 0700);

    const QString strName = QString::fromStdString(m_strConnection);
    QSqlDatabase db = QSqlDatabase::contains(strName) ? QSqlDatabase::database(strName, false)
                                                      : QSqlDatabase::addDatabase("QSQLITE", strName);
    if (!db.isValid())
    {
        strError = "the SQLite driver of Qt is not installed (Debian libqt6sql6-sqlite)";
        return false;
    }
    db.close();
    db.setDatabaseName(QString::fromStdString(dbPath.string()));
    QString strOptions = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(SENT_BUSY_TIMEOUT_MS);
    if (m_bReadOnly)
        strOptions += QStringLiteral(";QSQLITE_OPEN_READONLY");
    db.setConnectOptions(strOptions);
    if (!db.open())
    {
        strError = DatabaseProblem(db.lastError());
        m_bDamaged = IsDamage(db.lastError());
        return false;
    }

    QSqlQuery version(db);
    if (!version.exec(QStringLiteral("PRAGMA user_version")) || !version.next())
    {
        strError = DatabaseProblem(version.lastError());
        m_bDamaged = IsDamage(version.lastError());
        version.finish();
        db.close();
        return false;
    }
    const int nVersion = version.value(0).toInt();
    version.finish();
    m_nLayout = SENT_SCHEMA_VERSION;
    if (nVersion > SENT_SCHEMA_VERSION)
        m_bReadOnly = true; // a later version's layout: shown as far as it is understood, never written
    else if (nVersion < SENT_SCHEMA_VERSION && m_bReadOnly)
    {
        // An earlier layout that may not be upgraded is read as it is.
        if (nVersion < 1)
        {
            strError = RecordName() + " is read-only and holds no records yet";
            db.close();
            return false;
        }
        m_nLayout = nVersion;
        if (!HasColumns(strError))
        {
            db.close();
            return false;
        }
    }
    else if (nVersion < SENT_SCHEMA_VERSION)
    {
        if (!Upgrade(nVersion, strError))
        {
            db.close();
            return false;
        }
    }
    else if (!HasColumns(strError))
    {
        db.close();
        return false;
    }
    m_bOpen = true;
    return true;
}

bool CSentFaxStore::Upgrade(int nVersion, std::string& strError)
{
    QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(m_strConnection), false);
    // Each step from the version before; a table of that name that another program made is
    // not taken for ours (HasColumns).
    bool bOk = db.transaction();
    if (bOk && nVersion < 1)
        bOk = Exec(SQL_CREATE_TABLE, strError) && Exec(SQL_CREATE_INDEX, strError);
    if (bOk && nVersion < 2)
        bOk = Exec(SQL_ADD_COVER_SENT, strError);
    if (nVersion < 3)
        for (const char* pszStep : SQL_ADD_NOTICE_COLUMNS)
            bOk = bOk && Exec(pszStep, strError);
    static_assert(SENT_SCHEMA_VERSION == 3, "a step above for each version, and the PRAGMA below");
    bOk = bOk && HasColumns(strError) && Exec("PRAGMA user_version = 3", strError) && db.commit();
    if (!bOk)
    {
        if (strError.empty())
        {
            strError = DatabaseProblem(db.lastError());
            m_bDamaged = IsDamage(db.lastError());
        }
        db.rollback();
    }
    return bOk;
}

QString CSentFaxStore::SelectColumns() const
{
    return QString::fromLatin1(SQL_COLUMNS) +
           QString::fromLatin1(m_nLayout >= 2 ? SQL_COVER_COLUMN : SQL_NO_COVER_COLUMN) +
           QString::fromLatin1(m_nLayout >= 3 ? SQL_NOTICE_COLUMNS : SQL_NO_NOTICE_COLUMNS);
}

bool CSentFaxStore::StartNewRecord(std::string& strAsideName, std::string& strError)
{
    if (!m_bDamaged)
    {
        strError = RecordName() + " is not damaged";
        return false;
    }
    Close();
    const auto dbPath = DatabasePath();
    const std::time_t now = std::time(nullptr);
    const auto taken = [this](const std::string& strName)
    {
        struct stat info = {};
        bool bTaken = ::lstat((m_folder / strName).c_str(), &info) == 0;
        for (const char* pszSuffix : JOURNAL_SUFFIXES)
            bTaken = bTaken || ::lstat((m_folder / (strName + pszSuffix)).c_str(), &info) == 0;
        return bTaken;
    };
    for (int nAttempt = 0; nAttempt < ASIDE_NAME_ATTEMPTS && strAsideName.empty(); ++nAttempt)
    {
        const std::string strName = AsideName(now, nAttempt);
        if (taken(strName))
            continue;
        // The journals go first and under the same name, so that SQLite never plays the old
        // file's journal into the new one.
        std::vector<const char*> aMoved;
        bool bOk = true;
        for (const char* pszSuffix : JOURNAL_SUFFIXES)
        {
            const std::filesystem::path journal = dbPath.string() + pszSuffix;
            struct stat info = {};
            if (::lstat(journal.c_str(), &info) != 0)
                continue;
            bOk = RenameNew(journal, m_folder / (strName + pszSuffix));
            if (!bOk)
                break;
            aMoved.push_back(pszSuffix);
        }
        if (bOk && RenameNew(dbPath, m_folder / strName))
        {
            strAsideName = strName;
            break;
        }
        strError = platform::ErrnoText("cannot keep " + RecordName() + " aside");
        for (const char* pszSuffix : aMoved)
            (void)RenameNew(m_folder / (strName + pszSuffix), dbPath.string() + pszSuffix);
        return false;
    }
    if (strAsideName.empty())
    {
        strError = "cannot find a free name to keep " + RecordName() + " aside";
        return false;
    }
    return Open(strError);
}

bool CSentFaxStore::Add(SSentFax& fax, const std::vector<std::filesystem::path>& aPages,
                        const SSentFaxLimits& limits, std::string& strError)
{
    if (!m_bOpen && !Open(strError))
        return false;
    if (m_bReadOnly)
    {
        strError = RecordName() + " is read-only";
        return false;
    }

    // A folder of its own: mkdir fails when the name is taken, so two faxes never share one.
    std::filesystem::path folder;
    for (int nAttempt = 0; nAttempt < FOLDER_NAME_ATTEMPTS && folder.empty(); ++nAttempt)
    {
        const std::string strName = NewFolderName(fax.m_nSentAt);
        if (::mkdir((m_folder / strName).c_str(), 0700) == 0)
        {
            folder = m_folder / strName;
            fax.m_strFolder = strName;
        }
        else if (errno != EEXIST)
        {
            strError = platform::ErrnoText("cannot make a folder in the folder of sent faxes");
            return false;
        }
    }
    if (folder.empty())
    {
        strError = "cannot make a folder of its own in the folder of sent faxes";
        return false;
    }
    const auto discard = [&folder]
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    };

    fax.m_nFolderBytes = 0;
    for (std::size_t i = 0; i < aPages.size(); ++i)
    {
        if (!CopyPrivateFile(aPages[i], PagePath(fax, static_cast<int>(i) + 1), fax.m_nFolderBytes, strError))
        {
            discard();
            return false;
        }
    }
    fax.m_nPages = static_cast<int>(aPages.size());

    QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(m_strConnection), false);
    if (!db.transaction())
    {
        strError = DatabaseProblem(db.lastError());
        discard();
        return false;
    }
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral(
        "INSERT INTO sent_fax (sent_at, recipient, fax_number, gateway_address, pages, "
        "mail_bytes, message_id, server_reply, folder, folder_bytes, cover_sent) VALUES (?, ?, ?, "
        "?, ?, ?, ?, ?, ?, ?, ?)"));
    insert.addBindValue(static_cast<qlonglong>(fax.m_nSentAt));
    insert.addBindValue(QString::fromStdString(fax.m_strRecipient));
    insert.addBindValue(QString::fromStdString(fax.m_strFaxNumber));
    insert.addBindValue(QString::fromStdString(fax.m_strGatewayAddress));
    insert.addBindValue(fax.m_nPages);
    insert.addBindValue(static_cast<qulonglong>(fax.m_nMailBytes));
    insert.addBindValue(QString::fromStdString(fax.m_strMessageId));
    insert.addBindValue(QString::fromStdString(fax.m_strServerReply));
    insert.addBindValue(QString::fromStdString(fax.m_strFolder));
    insert.addBindValue(static_cast<qulonglong>(fax.m_nFolderBytes));
    insert.addBindValue(fax.m_bCoverSent ? 1 : 0);
    std::vector<std::int64_t> aIds;
    std::vector<std::string> aFolders;
    bool bOk = insert.exec();
    if (!bOk)
        strError = DatabaseProblem(insert.lastError());
    else
    {
        fax.m_nId = insert.lastInsertId().toLongLong();
        insert.finish();
        bOk = SelectBeyondLimits(limits, aIds, aFolders, strError);
        // The fax just sent stays, even when it alone is over the limits.
        const auto it = std::find(aIds.begin(), aIds.end(), fax.m_nId);
        if (it != aIds.end())
        {
            aFolders.erase(aFolders.begin() + (it - aIds.begin()));
            aIds.erase(it);
        }
        bOk = bOk && DeleteRows(aIds, strError);
    }
    if (bOk && !db.commit())
    {
        strError = DatabaseProblem(db.lastError());
        bOk = false;
    }
    if (!bOk)
    {
        db.rollback();
        discard();
        fax.m_nId = 0;
        return false;
    }
    RemoveFolders(aFolders);
    return true;
}

bool CSentFaxStore::SelectBeyondLimits(const SSentFaxLimits& limits, std::vector<std::int64_t>& aIds,
                                       std::vector<std::string>& aFolders, std::string& strError) const
{
    // Newest first: a fax is kept while the count and the bytes up to it fit.
    QSqlQuery query(QSqlDatabase::database(QString::fromStdString(m_strConnection), false));
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT id, folder, folder_bytes FROM sent_fax") + SQL_NEWEST_FIRST))
    {
        strError = DatabaseProblem(query.lastError());
        return false;
    }
    // A limit of 0 or below is no limit: a setting that went wrong never empties the record.
    const bool bCountLimit = limits.m_nMaxFaxes > SENT_NO_LIMIT;
    const bool bByteLimit = limits.m_nMaxMegabytes > SENT_NO_LIMIT;
    const std::uint64_t nMaxBytes =
        static_cast<std::uint64_t>(std::max(limits.m_nMaxMegabytes, 0)) * BYTES_PER_MEGABYTE;
    if (!bCountLimit && !bByteLimit)
        return true;
    std::uint64_t nBytes = 0;
    int nCount = 0;
    bool bFull = false;
    while (query.next())
    {
        nBytes += query.value(2).toULongLong();
        ++nCount;
        bFull = bFull || (bCountLimit && nCount > limits.m_nMaxFaxes) || (bByteLimit && nBytes > nMaxBytes);
        if (bFull)
        {
            aIds.push_back(query.value(0).toLongLong());
            aFolders.push_back(query.value(1).toString().toStdString());
        }
    }
    return true;
}

bool CSentFaxStore::DeleteRows(const std::vector<std::int64_t>& aIds, std::string& strError)
{
    QSqlQuery remove(QSqlDatabase::database(QString::fromStdString(m_strConnection), false));
    remove.prepare(QStringLiteral("DELETE FROM sent_fax WHERE id = ?"));
    for (std::int64_t nId : aIds)
    {
        remove.bindValue(0, static_cast<qlonglong>(nId));
        if (!remove.exec())
        {
            strError = DatabaseProblem(remove.lastError());
            return false;
        }
    }
    return true;
}

void CSentFaxStore::RemoveFolders(const std::vector<std::string>& aFolders)
{
    for (const std::string& strFolder : aFolders)
    {
        if (!IsFolderName(strFolder))
            continue;
        std::error_code ignored;
        std::filesystem::remove_all(m_folder / strFolder, ignored);
    }
}

std::vector<SSentFax> CSentFaxStore::List(std::string_view strSearch, int nOffset, int nLimit) const
{
    std::vector<SSentFax> aFaxes;
    if (!m_bOpen)
        return aFaxes;
    QSqlQuery query(QSqlDatabase::database(QString::fromStdString(m_strConnection), false));
    query.setForwardOnly(true);
    QString strSql = QStringLiteral("SELECT ") + SelectColumns() + QStringLiteral(" FROM sent_fax");
    if (!strSearch.empty())
        strSql += SQL_SEARCH;
    strSql += SQL_NEWEST_FIRST;
    strSql += QStringLiteral(" LIMIT :limit OFFSET :offset");
    query.prepare(strSql);
    if (!strSearch.empty())
        BindSearch(query, strSearch);
    query.bindValue(QStringLiteral(":limit"), nLimit);
    query.bindValue(QStringLiteral(":offset"), std::max(nOffset, 0));
    if (!query.exec())
        return aFaxes;
    while (query.next())
        aFaxes.push_back(FaxFromQuery(query));
    return aFaxes;
}

int CSentFaxStore::Count(std::string_view strSearch) const
{
    if (!m_bOpen)
        return 0;
    QSqlQuery query(QSqlDatabase::database(QString::fromStdString(m_strConnection), false));
    QString strSql = QStringLiteral("SELECT COUNT(*) FROM sent_fax");
    if (!strSearch.empty())
        strSql += SQL_SEARCH;
    query.prepare(strSql);
    if (!strSearch.empty())
        BindSearch(query, strSearch);
    if (!query.exec() || !query.next())
        return 0;
    return query.value(0).toInt();
}

std::optional<SSentFax> CSentFaxStore::Find(std::int64_t nId) const
{
    if (!m_bOpen)
        return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(QString::fromStdString(m_strConnection), false));
    query.prepare(QStringLiteral("SELECT ") + SelectColumns() +
                  QStringLiteral(" FROM sent_fax WHERE id = ?"));
    query.addBindValue(static_cast<qlonglong>(nId));
    if (!query.exec() || !query.next())
        return std::nullopt;
    return FaxFromQuery(query);
}

std::filesystem::path CSentFaxStore::PagePath(const SSentFax& fax, int nPage) const
{
    // A folder name that this store did not make leads nowhere outside it.
    if (!IsFolderName(fax.m_strFolder))
        return {};
    return m_folder / fax.m_strFolder / ("quill" + std::to_string(nPage) + ".tif");
}

bool CSentFaxStore::Remove(std::int64_t nId, std::string& strError)
{
    if (!m_bOpen && !Open(strError))
        return false;
    if (m_bReadOnly)
    {
        strError = RecordName() + " is read-only";
        return false;
    }
    const auto fax = Find(nId);
    if (!fax)
        return true;
    if (!DeleteRows({nId}, strError))
        return false;
    RemoveFolders({fax->m_strFolder});
    return true;
}

bool CSentFaxStore::Prune(const SSentFaxLimits& limits, std::string& strError)
{
    if (!m_bOpen && !Open(strError))
        return false;
    if (m_bReadOnly)
    {
        strError = RecordName() + " is read-only";
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(m_strConnection), false);
    std::vector<std::int64_t> aIds;
    std::vector<std::string> aFolders;
    if (!db.transaction())
    {
        strError = DatabaseProblem(db.lastError());
        return false;
    }
    if (!SelectBeyondLimits(limits, aIds, aFolders, strError) || !DeleteRows(aIds, strError) || !db.commit())
    {
        if (strError.empty())
            strError = DatabaseProblem(db.lastError());
        db.rollback();
        return false;
    }
    RemoveFolders(aFolders);
    return true;
}

std::optional<int> CSentFaxStore::CountBeyondLimits(const SSentFaxLimits& limits) const
{
    if (!m_bOpen)
        return std::nullopt;
    std::vector<std::int64_t> aIds;
    std::vector<std::string> aFolders;
    std::string strError;
    if (!SelectBeyondLimits(limits, aIds, aFolders, strError))
        return std::nullopt;
    return static_cast<int>(aIds.size());
}

std::vector<SSentFax> CSentFaxStore::AwaitingWord(std::int64_t nNow) const
{
    std::vector<SSentFax> aFaxes;
    if (!m_bOpen || m_nLayout < 3)
        return aFaxes;
    QSqlQuery query(QSqlDatabase::database(QString::fromStdString(m_strConnection), false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT ") + SelectColumns() +
                  QStringLiteral(" FROM sent_fax WHERE status = 0 AND sent_at >= ? ORDER BY sent_at, id"));
    query.addBindValue(static_cast<qlonglong>(nNow - NOTICE_WAIT_SECONDS));
    if (!query.exec())
        return aFaxes;
    while (query.next())
        aFaxes.push_back(FaxFromQuery(query));
    return aFaxes;
}

bool CSentFaxStore::ApplyNoticeWord(const std::vector<SFaxWord>& aWords, const SNoticePollState& state,
                                    std::string& strError)
{
    if (!m_bOpen && !Open(strError))
        return false;
    if (m_bReadOnly)
    {
        strError = RecordName() + " is read-only";
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(m_strConnection), false);
    if (!db.transaction())
    {
        strError = DatabaseProblem(db.lastError());
        return false;
    }
    QSqlQuery update(db);
    // Only a fax still without word takes it: two polls at once (the window's and the
    // watcher's) never let a later notice overwrite the first.
    update.prepare(QStringLiteral("UPDATE sent_fax SET status = ?, status_reason = ?, notice_at = ?, "
                                  "notice_subject = ?, notice_lines = ? WHERE id = ? AND status = 0"));
    bool bOk = true;
    for (const SFaxWord& word : aWords)
    {
        if (word.m_eStatus == ESentStatus::Sent)
            continue;
        update.addBindValue(static_cast<int>(word.m_eStatus));
        update.addBindValue(QString::fromStdString(word.m_strReason));
        update.addBindValue(static_cast<qlonglong>(word.m_nNoticeAt));
        update.addBindValue(QString::fromStdString(word.m_strSubject));
        update.addBindValue(QString::fromStdString(word.m_strFirstLines));
        update.addBindValue(static_cast<qlonglong>(word.m_nFaxId));
        if (!update.exec())
        {
            strError = DatabaseProblem(update.lastError());
            bOk = false;
            break;
        }
    }
    update.finish();
    bOk = bOk && WritePollStateRow(state, strError);
    if (bOk && !db.commit())
    {
        strError = DatabaseProblem(db.lastError());
        bOk = false;
    }
    if (!bOk)
        db.rollback();
    return bOk;
}

SNoticePollState CSentFaxStore::PollState(const std::string& strAccount) const
{
    SNoticePollState state;
    state.m_strAccount = strAccount;
    if (!m_bOpen || m_nLayout < 3)
        return state;
    QSqlQuery query(QSqlDatabase::database(QString::fromStdString(m_strConnection), false));
    query.prepare(
        QStringLiteral("SELECT uid_validity, last_uid, failures, next_try, failure_text, failure_shown "
                       "FROM notice_poll WHERE account = ?"));
    query.addBindValue(QString::fromStdString(strAccount));
    if (!query.exec() || !query.next())
        return state;
    state.m_nUidValidity = static_cast<std::uint32_t>(query.value(0).toLongLong());
    state.m_nLastUid = static_cast<std::uint32_t>(query.value(1).toLongLong());
    state.m_nFailures = std::max(0, query.value(2).toInt());
    state.m_nNextTry = query.value(3).toLongLong();
    state.m_strFailure = query.value(4).toString().toStdString();
    state.m_bFailureShown = query.value(5).toLongLong() != 0;
    return state;
}

bool CSentFaxStore::WritePollStateRow(const SNoticePollState& state, std::string& strError)
{
    QSqlQuery write(QSqlDatabase::database(QString::fromStdString(m_strConnection), false));
    write.prepare(
        QStringLiteral("INSERT OR REPLACE INTO notice_poll (account, uid_validity, last_uid, failures, "
                       "next_try, failure_text, failure_shown) VALUES (?, ?, ?, ?, ?, ?, ?)"));
    write.addBindValue(QString::fromStdString(state.m_strAccount));
    write.addBindValue(static_cast<qlonglong>(state.m_nUidValidity));
    write.addBindValue(static_cast<qlonglong>(state.m_nLastUid));
    write.addBindValue(state.m_nFailures);
    write.addBindValue(static_cast<qlonglong>(state.m_nNextTry));
    write.addBindValue(QString::fromStdString(state.m_strFailure));
    write.addBindValue(state.m_bFailureShown ? 1 : 0);
    if (write.exec())
        return true;
    strError = DatabaseProblem(write.lastError());
    return false;
}

bool CSentFaxStore::WritePollState(const SNoticePollState& state, std::string& strError)
{
    if (!m_bOpen && !Open(strError))
        return false;
    if (m_bReadOnly)
    {
        strError = RecordName() + " is read-only";
        return false;
    }
    return WritePollStateRow(state, strError);
}
