#include "sender/app/SentFaxModel.h"

#include "sender/app/NoticeCheck.h"

#include <QDateTime>

QString SentTimeText(std::int64_t nSentAt)
{
    return QDateTime::fromSecsSinceEpoch(nSentAt).toString(QStringLiteral("yyyy-MM-dd hh:mm"));
}

CSentFaxModel::CSentFaxModel(const CSentFaxStore& store, QObject* pParent)
    : QAbstractTableModel(pParent), m_store(store)
{
    Reload();
}

void CSentFaxModel::SetWatching(bool bWatching)
{
    m_bWatching = bWatching;
    if (!m_aFaxes.empty())
        emit dataChanged(index(0, COLUMN_STATUS), index(rowCount() - 1, COLUMN_STATUS));
}

void CSentFaxModel::SetSearch(const std::string& strSearch)
{
    m_strSearch = strSearch;
    Reload();
}

void CSentFaxModel::Reload()
{
    beginResetModel();
    m_aFaxes = m_store.List(m_strSearch, 0, BATCH_ROWS);
    m_nMatches = m_store.Count(m_strSearch);
    endResetModel();
}

const SSentFax* CSentFaxModel::Fax(int nRow) const
{
    return nRow >= 0 && nRow < static_cast<int>(m_aFaxes.size()) ? &m_aFaxes[static_cast<std::size_t>(nRow)]
                                                                 : nullptr;
}

int CSentFaxModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_aFaxes.size());
}

int CSentFaxModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : COLUMN_COUNT;
}

QVariant CSentFaxModel::data(const QModelIndex& index, int nRole) const
{
    const SSentFax* pFax = Fax(index.row());
    if (pFax == nullptr || nRole != Qt::DisplayRole)
        return {};
    switch (index.column())
    {
    case COLUMN_SENT:
        return SentTimeText(pFax->m_nSentAt);
    case COLUMN_RECIPIENT:
        return QString::fromStdString(pFax->m_strRecipient);
    case COLUMN_NUMBER:
        return QString::fromStdString(pFax->m_strFaxNumber);
    case COLUMN_PAGES:
        return pFax->m_nPages;
    case COLUMN_STATUS:
        return QString::fromStdString(FaxStatusText(*pFax, m_bWatching, QDateTime::currentSecsSinceEpoch()));
    default:
        return {};
    }
}

QVariant CSentFaxModel::headerData(int nSection, Qt::Orientation eOrientation, int nRole) const
{
    if (eOrientation != Qt::Horizontal || nRole != Qt::DisplayRole)
        return {};
    switch (nSection)
    {
    case COLUMN_SENT:
        return tr("Sent");
    case COLUMN_RECIPIENT:
        return tr("Recipient");
    case COLUMN_NUMBER:
        return tr("Fax Number");
    case COLUMN_PAGES:
        return tr("Pages");
    case COLUMN_STATUS:
        return tr("Status");
    default:
        return {};
    }
}

bool CSentFaxModel::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && static_cast<int>(m_aFaxes.size()) < m_nMatches;
}

void CSentFaxModel::fetchMore(const QModelIndex& parent)
{
    if (!canFetchMore(parent))
        return;
    auto aMore = m_store.List(m_strSearch, static_cast<int>(m_aFaxes.size()), BATCH_ROWS);
    if (aMore.empty())
    {
        // The database has fewer than it said (changed by another Sendwell): stop asking.
        m_nMatches = static_cast<int>(m_aFaxes.size());
        return;
    }
    const int nFirst = static_cast<int>(m_aFaxes.size());
    beginInsertRows({}, nFirst, nFirst + static_cast<int>(aMore.size()) - 1);
    for (auto& fax : aMore)
        m_aFaxes.push_back(std::move(fax));
    endInsertRows();
}
