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
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTreeView>
#include <QVBoxLayout>

namespace sw {

namespace {

constexpr int kDetailsHeight = 119;

} // namespace

TLogView::TLogView(TBroadcastController& controller, QWidget* parent)
    : QWidget(parent), FController(controller), FImageListLog(std::make_unique<TImageListEx>(16, 16)) {
    setObjectName(QStringLiteral("BookPageLogView"));
    FillLogImages(*FImageListLog);
    FModel = std::make_unique<TLogModel>(controller.Engine().LogLines(), FImageListLog.get());

    FActionLogClear = CreateViewAction(QStringLiteral("ActionLogClear"), QStringLiteral("Clear"),
                                       CommandIcon(TCommandImage::Clear), this);
    FActionLogEmail = CreateViewAction(QStringLiteral("ActionLogEmail"), QStringLiteral("Email"),
                                       CommandIcon(TCommandImage::Email), this);
    connect(FActionLogClear, &QAction::triggered, this, [this] {
        FController.Execute(TMainAction::LogClear);
        UpdateActions();
    });
    connect(FActionLogEmail, &QAction::triggered, this,
            [this] { FController.Execute(TMainAction::LogEmail); });

    FListViewLog = new QTreeView;
    FListViewLog->setModel(FModel.get());
    SetUpReportList(FListViewLog, QStringLiteral("ListViewLog"), FImageListLog->Width(),
                    {20, 150, 75, 200, 200});
    FListViewLog->header()->setSectionResizeMode(TLogModel::lcIcon, QHeaderView::Fixed);
    FListViewLog->header()->resizeSection(
        TLogModel::lcDateTime, ColumnWidthFor(*FListViewLog, 150, QStringLiteral("00/00/0000 00:00:00 pm")));

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
    AddCommandButton(FCommandBar, FActionLogClear, QStringLiteral("ButtonLogClear"));
    AddCommandButton(FCommandBar, FActionLogEmail, QStringLiteral("ButtonLogEmail"));

    FStatusBarLog = new TStatusBarEx;
    FStatusBarLog->setObjectName(QStringLiteral("StatusBarLog"));
    LayOutView(this, FSplitter, FCommandBar, FStatusBarLog);

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
