#include "ui/views/LogModel.h"

#include "log/EventLog.h"
#include "ui/controls/ImageListEx.h"
#include "ui/views/ViewSupport.h"

#include <limits>

namespace sw {

TLogModel::TLogModel(const TLogLines& lines, const TImageListEx* images, QObject* parent)
    : QAbstractTableModel(parent), FLines(lines), FImages(images) {}

int TLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : FRowCount;
}

int TLogModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

const TLogRow& TLogModel::Cached(int row) const {
    if (row != FCachedRow) {
        // The lines may have shrunk since the last Refresh (ClearLog before its notice arrives).
        FCached = static_cast<size_t>(row) < FLines.size() ? FormatLogRow(FLines[static_cast<size_t>(row)])
                                                           : TLogRow{};
        FCachedRow = row;
        ++FParseCount;
    }
    return FCached;
}

TLogRow TLogModel::Row(int row) const {
    if (row < 0 || row >= FRowCount) {
        return {};
    }
    return Cached(row);
}

QVariant TLogModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        if (column == lcIcon) {
            return QString();
        }
        return ToQString(Cached(index.row()).SubTexts[static_cast<size_t>(column - lcDateTime)]);
    case Qt::DecorationRole:
        if (column == lcIcon && FImages) {
            const int icon = Cached(index.row()).Icon;
            if (icon > 0 && FImages->Valid(icon)) {
                return FImages->Icon(icon);
            }
        }
        return {};
    case kValuesRole:
        return ToQString(Cached(index.row()).SubTexts[TLogRow::stValues]);
    default:
        return {};
    }
}

QVariant TLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
    case lcDateTime:
        return QStringLiteral("Date/Time");
    case lcCategory:
        return QStringLiteral("Category");
    case lcDescription:
        return QStringLiteral("Description");
    case lcValue:
        return QStringLiteral("Value");
    default:
        return QString();
    }
}

void TLogModel::Refresh() {
    FCachedRow = -1;
    const int count = static_cast<int>(std::min<size_t>(FLines.size(), std::numeric_limits<int>::max()));
    if (count > FRowCount) {
        beginInsertRows({}, FRowCount, count - 1);
        FRowCount = count;
        endInsertRows();
    } else if (count < FRowCount) {
        beginRemoveRows({}, count, FRowCount - 1);
        FRowCount = count;
        endRemoveRows();
    }
    if (FRowCount > 0) {
        Q_EMIT dataChanged(index(0, 0), index(FRowCount - 1, kColumnCount - 1));
    }
}

} // namespace sw
