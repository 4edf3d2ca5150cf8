#include "ui/views/LogView.h"

#include "engine/BroadcastController.h"
#include "engine/DataModuleMain.h"
#include "log/CommaText.h"
#include "ui/controls/ImageListEx.h"
#include "ui/controls/StatusBarEx.h"
#include "ui/views/LogModel.h"
#include "ui/views/ViewImages.h"
#include "ui/views/ViewSupport.h"

#include <QAction>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

namespace sw {

namespace {

constexpr int kDetailsHeight = 119;

QAction* CreateAction(const char* name, const char* caption, TCommandImage image, QObject* parent) {
    auto* action = new QAction(CommandIcon(image), QString::fromUtf8(caption), parent);
    action->setObjectName(QString::fromUtf8(name));
    return action;
}

} // namespace

TLogView::TLogView(TBroadcastController& controller, QWidget* parent)
    : QWidget(parent), FController(controller), FImageListLog(std::make_unique<TImageListEx>(16, 16)) {
    setObjectName(QStringLiteral("BookPageLogView"));
    FillLogImages(*FImageListLog);
    FModel = std::make_unique<TLogModel>(controller.Engine().LogLines(), FImageListLog.get());

    FActionLogClear = CreateAction("ActionLogClear", "Clear", TCommandImage::Clear, this);
    FActionLogEmail = CreateAction("ActionLogEmail", "Email", TCommandImage::Email, this);
    connect(FActionLogClear, &QAction::triggered, this, [this] {
        FController.Execute(TMainAction::LogClear);
        UpdateActions();
    });
    connect(FActionLogEmail, &QAction::triggered, this,
            [this] { FController.Execute(TMainAction::LogEmail); });

    FListViewLog = new QTreeView;
    FListViewLog->setObjectName(QStringLiteral("ListViewLog"));
    FListViewLog->setModel(FModel.get());
    FListViewLog->setRootIsDecorated(false);
    FListViewLog->setItemsExpandable(false);
    // Every row is one line high; without this the view would ask all 10000 rows for their size.
    FListViewLog->setUniformRowHeights(true);
    FListViewLog->setAllColumnsShowFocus(true);
    FListViewLog->setSelectionBehavior(QAbstractItemView::SelectRows);
    FListViewLog->setSelectionMode(QAbstractItemView::SingleSelection);
    FListViewLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FListViewLog->setIconSize(QSize(FImageListLog->Width(), FImageListLog->Height()));
    FListViewLog->setTextElideMode(Qt::ElideRight);
    QHeaderView* header = FListViewLog->header();
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(20);
    const int widths[TLogModel::kColumnCount] = {20, 150, 75, 200, 200};
    for (int column = 0; column < TLogModel::kColumnCount; ++column) {
        header->resizeSection(column, widths[column]);
    }
    header->resizeSection(TLogModel::lcDateTime, ColumnWidthFor(*FListViewLog, widths[TLogModel::lcDateTime],
                                                                QStringLiteral("00/00/0000 00:00:00 pm")));
    header->setSectionResizeMode(TLogModel::lcIcon, QHeaderView::Fixed);

    FMemoLogDetails = new QPlainTextEdit;
    FMemoLogDetails->setObjectName(QStringLiteral("MemoLogDetails"));
    FMemoLogDetails->setReadOnly(true);
    FMemoLogDetails->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    FMemoLogDetails->setLineWrapMode(QPlainTextEdit::NoWrap);
    FMemoLogDetails->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FMemoLogDetails->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    FBoxDetails = new QGroupBox(QStringLiteral("Details"));
    FBoxDetails->setObjectName(QStringLiteral("GroupBoxLogDetails"));
    auto* boxLayout = new QVBoxLayout(FBoxDetails);
    boxLayout->setContentsMargins(4, 2, 4, 4);
    boxLayout->addWidget(FMemoLogDetails);

    FSplitter = new QSplitter(Qt::Vertical);
    FSplitter->setObjectName(QStringLiteral("SplitterLog"));
    FSplitter->setChildrenCollapsible(false);
    FSplitter->addWidget(FListViewLog);
    FSplitter->addWidget(FBoxDetails);
    FSplitter->setStretchFactor(0, 1);
    FSplitter->setStretchFactor(1, 0);
    FSplitter->setSizes({400, kDetailsHeight});

    FCommandBar = CreateCommandBar(QStringLiteral("ToolBarLog"), this);
    FCommandBar->addAction(FActionLogClear);
    FCommandBar->addAction(FActionLogEmail);
    FCommandBar->widgetForAction(FActionLogClear)->setObjectName(QStringLiteral("ButtonLogClear"));
    FCommandBar->widgetForAction(FActionLogEmail)->setObjectName(QStringLiteral("ButtonLogEmail"));

    FStatusBarLog = new TStatusBarEx;
    FStatusBarLog->setObjectName(QStringLiteral("StatusBarLog"));

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(FSplitter, 1);
    row->addWidget(FCommandBar);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(row, 1);
    layout->addWidget(FStatusBarLog);

    connect(FListViewLog->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { ListViewLogChange(); });
    connect(FImageListLog.get(), &TImageListEx::Changed, FListViewLog->viewport(),
            qOverload<>(&QWidget::update));
    connect(&controller, &TBroadcastController::LogChanged, this, &TLogView::Refresh);
    UpdateActions();
}

TLogView::~TLogView() {
    // The list goes with the widget tree after this destructor; it must not outlive its model.
    FListViewLog->setModel(nullptr);
}

void TLogView::Refresh() {
    FModel->Refresh();
    ListViewLogChange();
    UpdateActions();
}

void TLogView::UpdateActions() {
    FActionLogClear->setEnabled(FController.ActionEnabled(TMainAction::LogClear));
    FActionLogEmail->setEnabled(FController.ActionEnabled(TMainAction::LogEmail));
}

int TLogView::SelectedRow() const {
    const QModelIndexList rows = FListViewLog->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void TLogView::ListViewLogChange() {
    const int row = SelectedRow();
    if (row < 0) {
        FMemoLogDetails->clear();
        return;
    }
    QStringList lines;
    for (const std::string& value : FromCommaText(FModel->Row(row).SubTexts[TLogRow::stValues])) {
        lines.push_back(ToQString(value));
    }
    const QString text = lines.join(QLatin1Char('\n'));
    // Refreshes come with every new entry; setting the same text again would scroll the box back.
    if (text != FMemoLogDetails->toPlainText()) {
        FMemoLogDetails->setPlainText(text);
    }
}

} // namespace sw
