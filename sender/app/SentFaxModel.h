#pragma once

#include "sender/record/SentFaxStore.h"

#include <QAbstractTableModel>
#include <string>
#include <vector>

// The rows of the sent faxes window: the faxes of a store that match the search, newest
// first, read from the database a batch at a time as the view scrolls, so that opening the
// window costs the same for ten faxes as for ten thousand.
class CSentFaxModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum EColumn
    {
        COLUMN_SENT,
        COLUMN_RECIPIENT,
        COLUMN_NUMBER,
        COLUMN_PAGES,
        COLUMN_STATUS,
        COLUMN_COUNT,
    };
    static constexpr int BATCH_ROWS = 100;

    explicit CSentFaxModel(const CSentFaxStore& store, QObject* pParent = nullptr);

    // Whether the status notices are watched for: a fax without word is then "No word yet"
    // for as long as word may still come, else "Sent".
    void SetWatching(bool bWatching);
    bool IsWatching() const { return m_bWatching; }

    // Starts again from the newest fax that matches.
    void SetSearch(const std::string& strSearch);
    void Reload();
    const SSentFax* Fax(int nRow) const;
    // All faxes that match, also those not read yet.
    int MatchCount() const { return m_nMatches; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int nRole = Qt::DisplayRole) const override;
    QVariant headerData(int nSection, Qt::Orientation eOrientation,
                        int nRole = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    const CSentFaxStore& m_store;
    std::string m_strSearch;
    std::vector<SSentFax> m_aFaxes;
    int m_nMatches = 0;
    bool m_bWatching = false;
};

// "2026-03-08 14:03" in local time.
QString SentTimeText(std::int64_t nSentAt);
