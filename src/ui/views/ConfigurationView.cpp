#include "ui/views/ConfigurationView.h"

#include "engine/BroadcastController.h"
#include "engine/DataModuleMain.h"
#include "log/CommaText.h"
#include "ui/controls/ImageListEx.h"
#include "ui/controls/StatusBarEx.h"
#include "ui/views/ViewImages.h"
#include "ui/views/ViewSupport.h"

#include <QAction>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolBar>
#include <QTreeWidget>
#include <algorithm>

namespace sw {

namespace {

// Deeper than any report nests; keeps a corrupt line from pushing its text out of reach.
constexpr int kMaxIndent = 32;

// Shifts the first column's icon and text right by the row's indent, the selection still filling
// the whole row.
class TIndentDelegate : public QStyledItemDelegate {
public:
    TIndentDelegate(int step, QObject* parent) : QStyledItemDelegate(parent), FStep(step) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const int shift = Shift(index);
        if (shift == 0) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : nullptr;
        if (!style) {
            return;
        }
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);
        opt.rect.setLeft(opt.rect.left() + shift);
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.rwidth() += Shift(index);
        return size;
    }

private:
    int Shift(const QModelIndex& index) const {
        return index.column() == TConfigurationView::gcDescription
                   ? index.data(TConfigurationView::kIndentRole).toInt() * FStep
                   : 0;
    }
    int FStep;
};

} // namespace

TConfigurationView::TConfigurationView(TBroadcastController& controller, QWidget* parent)
    : QWidget(parent), FController(controller),
      FImageListConfiguration(std::make_unique<TImageListEx>(16, 16)) {
    setObjectName(QStringLiteral("BookPageConfigurationView"));
    FillConfigurationImages(*FImageListConfiguration);

    FActionConfigurationEmail =
        CreateViewAction(QStringLiteral("ActionConfigurationEmail"), QStringLiteral("Email"),
                         CommandIcon(TCommandImage::Email), this);
    connect(FActionConfigurationEmail, &QAction::triggered, this,
            [this] { FController.Execute(TMainAction::ConfigurationEmail); });

    FListViewConfiguration = new QTreeWidget;
    FListViewConfiguration->setColumnCount(kColumnCount);
    FListViewConfiguration->setHeaderLabels({QStringLiteral("Description"), QStringLiteral("Value")});
    SetUpReportList(FListViewConfiguration, QStringLiteral("ListViewConfiguration"),
                    FImageListConfiguration->Width(), {200, 400});
    FListViewConfiguration->setItemDelegate(
        new TIndentDelegate(FImageListConfiguration->Width(), FListViewConfiguration));

    FCommandBar = CreateCommandBar(QStringLiteral("ToolBarConfiguration"), this);
    AddCommandButton(FCommandBar, FActionConfigurationEmail, QStringLiteral("ButtonConfigurationEmail"));

    FStatusBarConfiguration = new TStatusBarEx;
    FStatusBarConfiguration->setObjectName(QStringLiteral("StatusBarConfiguration"));

    LayOutView(this, FListViewConfiguration, FCommandBar, FStatusBarConfiguration);

    connect(FImageListConfiguration.get(), &TImageListEx::Changed, this, [this] { LoadIcons(); });
    connect(&controller, &TBroadcastController::SystemInfoChanged, this, &TConfigurationView::Refresh);
}

TConfigurationView::~TConfigurationView() = default;

int TConfigurationView::ImageOfKind(int kind) {
    return kind >= 0 && kind <= 5 ? kind + 1 : giUnknown;
}

void TConfigurationView::LoadIcons() {
    for (int i = 0; i < FListViewConfiguration->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = FListViewConfiguration->topLevelItem(i);
        item->setIcon(gcDescription,
                      FImageListConfiguration->Icon(item->data(gcDescription, kImageIndexRole).toInt()));
    }
}

void TConfigurationView::Refresh() {
    TDataModuleMain& engine = FController.Engine();
    FListViewConfiguration->setUpdatesEnabled(false);
    FListViewConfiguration->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(engine.SystemInfo.size()));
    for (const std::string& line : engine.SystemInfo) {
        std::vector<std::string> g = FromCommaText(line);
        g.resize(4);
        const int image = ImageOfKind(DecimalOrZero(g[0]));
        const int indent = std::clamp(DecimalOrZero(g[1]), 0, kMaxIndent);
        auto* item = new QTreeWidgetItem(QStringList{ToQString(g[2]), ToQString(g[3])});
        item->setData(gcDescription, kImageIndexRole, image);
        item->setData(gcDescription, kIndentRole, indent);
        item->setIcon(gcDescription, FImageListConfiguration->Icon(image));
        items.push_back(item);
    }
    FListViewConfiguration->addTopLevelItems(items);
    FListViewConfiguration->setUpdatesEnabled(true);
    engine.Log(llInformation, lmConfiguration, Now(), "", engine.ConfigurationReport());
}

} // namespace sw
