#pragma once

#include "ui/views/LogRow.h"

#include <QAbstractTableModel>
#include <cstddef>

namespace sw {

class TImageListEx;
class TLogLines;

// The log list's rows over the engine's lines, oldest first. It copies nothing: each row is read from
// its line when the view asks for it, and only the last row read is kept, for the other columns of the
// same row. The row count follows the lines only at Refresh, so a view stays as it was until told.
class TLogModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { lcIcon, lcDateTime, lcCategory, lcDescription, lcValue, kColumnCount };
    // The entry's values (the fifth sub-text), which only the details box shows.
    static constexpr int kValuesRole = Qt::UserRole + 1;

    // images may be null (no icons); both must outlive the model.
    TLogModel(const TLogLines& lines, const TImageListEx* images, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The row count := the lines', and every row is read again when next shown. Rows that stay keep
    // their selection.
    void Refresh();

    // The row as shown; an empty row for a row past the lines.
    TLogRow Row(int row) const;

    // How many times a line was read, for checking that only the rows asked for are.
    size_t ParseCount() const { return FParseCount; }

private:
    const TLogRow& Cached(int row) const;

    const TLogLines& FLines;
    const TImageListEx* FImages;
    int FRowCount = 0;
    mutable int FCachedRow = -1;
    mutable TLogRow FCached;
    mutable size_t FParseCount = 0;
};

} // namespace sw
