#include "sender/store/SentFaxStore.h"

#include "platform/Roots.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

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
constexpr const char* SQL_CREATE_INDEX =
    "CREATE INDEX IF NOT EXISTS sent_fax_newest ON sent_fax (sent_at, id)";
constexpr const char* SQL_COLUMNS = "id, sent_at, recipient, fax_number, gateway_address, pages, mail_bytes, "
                                    "message_id, server_reply, folder, folder_bytes";
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

std::string ErrnoText(const std::string& strWhat)
{
    return strWhat + ": " + std::strerror(errno);
}

// Copies a file into a new file of the user's own (0600); fails rather than replace anything.
bool CopyPrivateFile(const std::filesystem::path& from, const std::filesystem::path& to,
                     std::uint64_t& nBytes, std::string& strError)
{
    const int inFd = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (inFd < 0)
    {
        strError = ErrnoText("cannot read " + from.string());
        return false;
    }
    const int outFd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (outFd < 0)
    {
        strError = ErrnoText("cannot write " + to.string());
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
            strError = ErrnoText("cannot read " + from.string());
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
                strError = ErrnoText("cannot write " + to.string());
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
        strError = ErrnoText("cannot write " + to.string());
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

std::string CSentFaxStore::DatabaseError(const std::string& strWhat) const
{
    const QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(m_strConnection), false);
    return strWhat + " " + DatabasePath().string() + ": " + db.lastError().text().toStdString();
}

bool CSentFaxStore::Exec(const char* pszSql, std::string& strError)
{
    QSqlQuery query(QSqlDatabase::database(QString::fromStdString(m_strConnection), false));
    if (query.exec(QString::fromLatin1(pszSql)))
        return true;
    strError = "the record of sent faxes " + DatabasePath().string() +
               " cannot be used: " + query.lastError().text().toStdString();
    return false;
}

bool CSentFaxStore::Open(std::string& strError)
{
    m_bOpen = false;
    std::error_code error;
    std::filesystem::create_directories(m_folder, error);
    if (error)
    {
        strError = "cannot make " + m_folder.string() + ": " + error.message();
        return false;
    }
    struct stat folderInfo = {};
    if (::lstat(m_folder.c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode))
    {
        strError = m_folder.string() + " is not a folder";
        return false;
    }
    // The records and copies are the user's own, whatever the folder was made with.
    if ((folderInfo.st_mode & 07777) != 0700 && ::chmod(m_folder.c_str(), 0700) != 0)
    {
        strError = ErrnoText("cannot make " + m_folder.string() + " private");
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
            strError = ErrnoText("cannot make " + dbPath.string());
            return false;
        }
        if (fd >= 0)
            ::close(fd);
        if (::lstat(dbPath.c_str(), &info) != 0)
        {
            strError = ErrnoText("cannot read " + dbPath.string());
            return false;
        }
    }
    if (!S_ISREG(info.st_mode))
    {
        strError = dbPath.string() + " is not a regular file";
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
        strError = DatabaseError("cannot open");
        return false;
    }

    QSqlQuery version(db);
    if (!version.exec(QStringLiteral("PRAGMA user_version")) || !version.next())
    {
        strError = "the record of sent faxes " + dbPath.string() +
                   " cannot be read: " + version.lastError().text().toStdString();
        db.close();
        return false;
    }
    const int nVersion = version.value(0).toInt();
    version.finish();
    if (nVersion > SENT_SCHEMA_VERSION)
        m_bReadOnly = true; // a later version's layout: shown as far as it is understood, never written
    else if (nVersion < SENT_SCHEMA_VERSION)
    {
        if (m_bReadOnly)
        {
            strError =
                "the record of sent faxes " + dbPath.string() + " is read-only and holds no records yet";
            db.close();
            return false;
        }
        if (!db.transaction() || !Exec(SQL_CREATE_TABLE, strError) || !Exec(SQL_CREATE_INDEX, strError) ||
            !Exec("PRAGMA user_version = 1", strError) || !db.commit())
        {
            if (strError.empty())
                strError = DatabaseError("cannot set up");
            db.rollback();
            db.close();
            return false;
        }
        static_assert(SENT_SCHEMA_VERSION == 1, "the PRAGMA above sets this version");
    }
    m_bOpen = true;
    return true;
}

bool CSentFaxStore::Add(SSentFax& fax, const std::vector<std::filesystem::path>& aPages,
                        const SSentFaxLimits& limits, std::string& strError)
{
    if (!m_bOpen && !Open(strError))
        return false;
    if (m_bReadOnly)
    {
        strError = "the record of sent faxes " + DatabasePath().string() + " is read-only";
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
            strError = ErrnoText("cannot make a folder in " + m_folder.string());
            return false;
        }
    }
    if (folder.empty())
    {
        strError = "cannot make a folder of its own in " + m_folder.string();
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
        strError = DatabaseError("cannot write");
        discard();
        return false;
    }
    QSqlQuery insert(db);
    insert.prepare(
        QStringLiteral("INSERT INTO sent_fax (sent_at, recipient, fax_number, gateway_address, pages, "
                       "mail_bytes, message_id, server_reply, folder, folder_bytes) VALUES (?, ?, ?, ?, "
                       "?, ?, ?, ?, ?, ?)"));
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
    std::vector<std::int64_t> aIds;
    std::vector<std::string> aFolders;
    bool bOk = insert.exec();
    if (!bOk)
        strError = "cannot write the record of sent faxes " + DatabasePath().string() + ": " +
                   insert.lastError().text().toStdString();
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
        strError = DatabaseError("cannot write");
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
        strError = "cannot read the record of sent faxes " + DatabasePath().string() + ": " +
                   query.lastError().text().toStdString();
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
            strError = "cannot write the record of sent faxes " + DatabasePath().string() + ": " +
                       remove.lastError().text().toStdString();
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
    QString strSql = QStringLiteral("SELECT ") + SQL_COLUMNS + QStringLiteral(" FROM sent_fax");
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
    query.prepare(QStringLiteral("SELECT ") + SQL_COLUMNS + QStringLiteral(" FROM sent_fax WHERE id = ?"));
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
        strError = "the record of sent faxes " + DatabasePath().string() + " is read-only";
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
        strError = "the record of sent faxes " + DatabasePath().string() + " is read-only";
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(m_strConnection), false);
    std::vector<std::int64_t> aIds;
    std::vector<std::string> aFolders;
    if (!db.transaction())
    {
        strError = DatabaseError("cannot write");
        return false;
    }
    if (!SelectBeyondLimits(limits, aIds, aFolders, strError) || !DeleteRows(aIds, strError) || !db.commit())
    {
        if (strError.empty())
            strError = DatabaseError("cannot write");
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
