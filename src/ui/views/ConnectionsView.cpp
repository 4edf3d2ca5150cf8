#include "ui/views/ConnectionsView.h"

#include "engine/BroadcastController.h"
#include "engine/Clients.h"
#include "ui/controls/ImageListEx.h"
#include "ui/controls/StatusBarEx.h"
#include "ui/views/ViewImages.h"
#include "ui/views/ViewSupport.h"

#include <QAction>
#include <QCollator>
#include <QHash>
#include <QHeaderView>
#include <QLocale>
#include <QMenu>
#include <QToolBar>
#include <QTreeWidget>
#include <unordered_set>

namespace sw {

namespace {

// Rows order by address as text (10.0.0.2 before 9.0.0.1), by the locale's case-sensitive rules.
class TConnectionItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        static const QCollator collator = [] {
            QCollator c;
            c.setCaseSensitivity(Qt::CaseSensitive);
            c.setNumericMode(false);
            return c;
        }();
        return collator.compare(text(TConnectionsView::ccAddress), other.text(TConnectionsView::ccAddress)) <
               0;
    }
};

} // namespace

TConnectionsView::TConnectionsView(TBroadcastController& controller, QWidget* parent)
    : QWidget(parent), FController(controller), FImageListConnection(std::make_unique<TImageListEx>(16, 16)) {
    setObjectName(QStringLiteral("BookPageConnectionsView"));
    FillConnectionImages(*FImageListConnection);
    LoadIcons();

    FActionClientDisconnect =
        CreateViewAction(QStringLiteral("ActionClientDisconnect"), QStringLiteral("Disconnect"),
                         CommandIcon(TCommandImage::Disconnect), this);
    FActionClientBlocked = CreateViewAction(QStringLiteral("ActionClientBlocked"), QStringLiteral("Blocked"),
                                            CommandIcon(TCommandImage::Blocked), this);
    FActionClientBlocked->setCheckable(true);
    connect(FActionClientDisconnect, &QAction::triggered, this, [this] {
        FController.Execute(TMainAction::ClientDisconnect, SelectedAddress());
        UpdateActions();
    });
    connect(FActionClientBlocked, &QAction::triggered, this, [this] {
        FController.Execute(TMainAction::ClientBlocked, SelectedAddress());
        UpdateActions();
    });

    FMenuConnection = std::make_unique<QMenu>();
    FMenuConnection->setObjectName(QStringLiteral("MenuConnection"));
    FMenuConnection->addAction(FActionClientDisconnect);
    FMenuConnection->addSeparator();
    FMenuConnection->addAction(FActionClientBlocked);

    FListViewConnection = new QTreeWidget;
    FListViewConnection->setColumnCount(kColumnCount);
    FListViewConnection->setHeaderLabels({QStringLiteral("IP Address"), QStringLiteral("Date/Time"),
                                          QStringLiteral("Audio"), QStringLiteral("Video")});
    FListViewConnection->headerItem()->setTextAlignment(ccAudio, Qt::AlignRight | Qt::AlignVCenter);
    FListViewConnection->headerItem()->setTextAlignment(ccVideo, Qt::AlignRight | Qt::AlignVCenter);
    SetUpReportList(FListViewConnection, QStringLiteral("ListViewConnection"), FImageListConnection->Width(),
                    {100, 150, 50, 50});
    // Without a selected row no menu is shown at all, not even one of a parent widget.
    FListViewConnection->setContextMenuPolicy(Qt::PreventContextMenu);
    // An address with its icon, and a time, must fit with the desktop's font.
    QHeaderView* header = FListViewConnection->header();
    header->resizeSection(ccAddress,
                          ColumnWidthFor(*FListViewConnection, 80, QStringLiteral("000.000.000.000")) + 20);
    header->resizeSection(ccDateTime,
                          ColumnWidthFor(*FListViewConnection, 150, QStringLiteral("00/00/0000 00:00 pm")));

    FCommandBar = CreateCommandBar(QStringLiteral("ToolBarConnection"), this);
    AddCommandButton(FCommandBar, FActionClientDisconnect, QStringLiteral("ButtonConnectionDisconnect"));
    FCommandBar->addSeparator();
    AddCommandButton(FCommandBar, FActionClientBlocked, QStringLiteral("ButtonConnectionBlocked"));

    FStatusBarConnection = new TStatusBarEx;
    FStatusBarConnection->setObjectName(QStringLiteral("StatusBarConnection"));
    for (int panel = cpAddresses; panel <= cpVideo; ++panel) {
        FStatusBarConnection->AddPanel(75, Qt::AlignRight);
    }
    FStatusBarConnection->AddPanel(50);
    ResetStatus();

    LayOutView(this, FListViewConnection, FCommandBar, FStatusBarConnection);

    connect(FListViewConnection, &QTreeWidget::itemSelectionChanged, this,
            [this] { ListViewConnectionChange(); });
    connect(FListViewConnection, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (QMenu* menu = ContextMenu()) {
            UpdateActions();
            menu->popup(FListViewConnection->viewport()->mapToGlobal(pos));
        }
    });
    connect(FImageListConnection.get(), &TImageListEx::Changed, this, [this] {
        LoadIcons();
        Refresh();
    });
    connect(&controller, &TBroadcastController::ConnectionsChanged, this, &TConnectionsView::Refresh);
    connect(&controller, &TBroadcastController::Stopped, this, &TConnectionsView::ResetStatus);
    UpdateActions();
}

TConnectionsView::~TConnectionsView() = default;

void TConnectionsView::LoadIcons() {
    for (int i = 0; i < 2; ++i) {
        FIcons[i] = FImageListConnection->Icon(i);
    }
}

QString TConnectionsView::FormatConnectTime(TDateTime time) {
    if (time == 0.0) {
        return {};
    }
    const TDateTimeParts p = DecodeDateTime(time);
    const int hour12 = p.Hour % 12 == 0 ? 12 : p.Hour % 12;
    return QStringLiteral("%1/%2/%3 %4:%5 %6")
        .arg(p.Month, 2, 10, QLatin1Char('0'))
        .arg(p.Day, 2, 10, QLatin1Char('0'))
        .arg(p.Year, 4, 10, QLatin1Char('0'))
        .arg(hour12, 2, 10, QLatin1Char('0'))
        .arg(p.Minute, 2, 10, QLatin1Char('0'))
        .arg(p.Hour < 12 ? QStringLiteral("am") : QStringLiteral("pm"));
}

QString TConnectionsView::FormatCount(long long count) {
    QLocale locale;
    // "#,##0" always groups, also where the locale's default options would not (the C locale).
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(count);
}

void TConnectionsView::ResetStatus() {
    FStatusBarConnection->SetPanelText(cpAddresses, QStringLiteral("0 IP(s)"));
    FStatusBarConnection->SetPanelText(cpAudio, QStringLiteral("0 Audio"));
    FStatusBarConnection->SetPanelText(cpVideo, QStringLiteral("0 Video"));
}

void TConnectionsView::Refresh() {
    if (!ClientsExists()) {
        return;
    }
    const TClients& clients = Clients();
    FStatusBarConnection->SetPanelText(cpAddresses, FormatCount(static_cast<long long>(clients.Count())) +
                                                        QStringLiteral(" IP(s)"));
    FStatusBarConnection->SetPanelText(cpAudio, FormatCount(clients.AudioTotal()) + QStringLiteral(" Audio"));
    FStatusBarConnection->SetPanelText(cpVideo, FormatCount(clients.VideoTotal()) + QStringLiteral(" Video"));

    QHash<QString, QTreeWidgetItem*> rows;
    std::unordered_set<QTreeWidgetItem*> stale;
    for (int i = FListViewConnection->topLevelItemCount() - 1; i >= 0; --i) {
        QTreeWidgetItem* item = FListViewConnection->topLevelItem(i);
        rows.insert(item->text(ccAddress), item);
        stale.insert(item);
    }
    for (size_t i = 0; i < clients.Count(); ++i) {
        const TClient& client = clients.Items(i);
        const QString address = ToQString(client.Address);
        QTreeWidgetItem* item = rows.value(address);
        if (!item) {
            item = new TConnectionItem(FListViewConnection, QStringList{address, {}, {}, {}});
            item->setTextAlignment(ccAudio, Qt::AlignRight | Qt::AlignVCenter);
            item->setTextAlignment(ccVideo, Qt::AlignRight | Qt::AlignVCenter);
            rows.insert(address, item);
        } else {
            stale.erase(item);
        }
        const int image = client.Blocked ? ciBlocked : ciConnected;
        item->setData(ccAddress, kImageIndexRole, image);
        item->setIcon(ccAddress, FIcons[image]);
        item->setText(ccDateTime, FormatConnectTime(client.ConnectTime));
        item->setText(ccAudio, QString::number(client.AudioCount));
        item->setText(ccVideo, QString::number(client.VideoCount));
    }
    // Qt would move the selection to a neighbour of a deleted current row, and Disconnect would then
    // act on an address the operator never chose.
    QTreeWidgetItem* current = FListViewConnection->currentItem();
    if (current && stale.count(current)) {
        FListViewConnection->selectionModel()->clearCurrentIndex();
    }
    for (QTreeWidgetItem* item : stale) {
        delete item;
    }
    FListViewConnection->sortItems(ccAddress, Qt::AscendingOrder);
    UpdateActions();
}

std::string TConnectionsView::SelectedAddress() const {
    const QList<QTreeWidgetItem*> selected = FListViewConnection->selectedItems();
    return selected.isEmpty() ? std::string() : selected.front()->text(ccAddress).toStdString();
}

QMenu* TConnectionsView::ContextMenu() const {
    return FListViewConnection->contextMenuPolicy() == Qt::CustomContextMenu ? FMenuConnection.get()
                                                                             : nullptr;
}

void TConnectionsView::ListViewConnectionChange() {
    FListViewConnection->setContextMenuPolicy(
        FListViewConnection->selectedItems().isEmpty() ? Qt::PreventContextMenu : Qt::CustomContextMenu);
    UpdateActions();
}

void TConnectionsView::UpdateActions() {
    const std::string address = SelectedAddress();
    FActionClientDisconnect->setEnabled(FController.ActionEnabled(TMainAction::ClientDisconnect, address));
    FActionClientBlocked->setEnabled(FController.ActionEnabled(TMainAction::ClientBlocked, address));
    FActionClientBlocked->setChecked(FController.ActionChecked(TMainAction::ClientBlocked, address));
}

} // namespace sw
