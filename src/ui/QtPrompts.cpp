#include "ui/QtPrompts.h"

#include "platform/color/Colors.h"

#include <QApplication>
#include <QColorDialog>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QInputDialog>
#include <QMessageBox>
#include <QSpinBox>
#include <QStringList>

namespace sw {

namespace {

QWidget* Owner() {
    return QApplication::activeWindow();
}

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

QString Caption() {
    return QApplication::applicationDisplayName();
}

// Where a dialog opens: the initial path, relative to the root when it names something there.
QString StartPath(const std::string& root, const std::string& initial) {
    if (!root.empty() && !initial.empty() && QFileInfo::exists(Text(root + initial))) {
        return Text(root + initial);
    }
    if (!initial.empty() && QFileInfo::exists(Text(initial))) {
        return Text(initial);
    }
    return Text(root);
}

} // namespace

QString TQtPrompts::QtFilter(const std::string& filter) {
    const QStringList parts = Text(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        // "*.*" matches every file on Windows; here a file needs no dot.
        patterns.replace(QStringLiteral("*.*"), QStringLiteral("*"))
            .replace(QLatin1Char(';'), QLatin1Char(' '));
        QString description = parts[i];
        const qsizetype open = description.lastIndexOf(QLatin1Char('('));
        if (open > 0) {
            description = description.left(open).trimmed();
        }
        filters << QStringLiteral("%1 (%2)").arg(description, patterns);
    }
    return filters.join(QStringLiteral(";;"));
}

void TQtPrompts::ShowMessage(const std::string& text, TMessageKind kind) {
    switch (kind) {
    case TMessageKind::Error:
        QMessageBox::critical(Owner(), Caption(), Text(text));
        break;
    case TMessageKind::Warning:
        QMessageBox::warning(Owner(), Caption(), Text(text));
        break;
    case TMessageKind::Information:
        QMessageBox::information(Owner(), Caption(), Text(text));
        break;
    }
}

bool TQtPrompts::Confirm(const std::string& text) {
    return QMessageBox::question(Owner(), Caption(), Text(text), QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

std::optional<int> TQtPrompts::ChooseItem(const std::string& title, const std::string& label,
                                          const std::vector<std::string>& items, int current) {
    QStringList list;
    for (const std::string& item : items) {
        list << Text(item);
    }
    bool ok = false;
    const QString chosen =
        QInputDialog::getItem(Owner(), Text(title), Text(label), list, std::max(current, 0), false, &ok);
    if (!ok) {
        return std::nullopt;
    }
    return static_cast<int>(list.indexOf(chosen));
}

bool TQtPrompts::EditValues(const std::string& title, std::vector<TValueField>& fields) {
    QDialog dialog(Owner());
    dialog.setWindowTitle(Text(title));
    auto* layout = new QFormLayout(&dialog);
    std::vector<QSpinBox*> boxes;
    for (const TValueField& field : fields) {
        auto* box = new QSpinBox(&dialog);
        box->setRange(field.Minimum, field.Maximum);
        box->setSingleStep(std::max(field.Step, 1));
        box->setValue(field.Value);
        box->setAccessibleName(Text(field.Name));
        layout->addRow(Text(field.Name), box);
        boxes.push_back(box);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    for (size_t i = 0; i < fields.size(); ++i) {
        fields[i].Value = boxes[i]->value();
    }
    return true;
}

std::optional<std::string> TQtPrompts::ChooseOpenFile(const TOpenFileRequest& request) {
    QFileDialog dialog(Owner(), Text(request.Title.empty() ? "Open" : request.Title));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(request.MustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setNameFilter(QtFilter(request.Filter));
    dialog.setDefaultSuffix(Text(request.DefaultExtension));
    if (!request.InitialPath.empty()) {
        const QFileInfo initial(Text(request.InitialPath));
        dialog.setDirectory(initial.isDir() ? initial.filePath() : initial.path());
        if (!initial.isDir()) {
            dialog.selectFile(initial.fileName());
        }
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front().toStdString();
}

std::optional<std::string> TQtPrompts::BrowseForFolder(const TBrowseRequest& request) {
    const QString start = StartPath(request.Root, request.InitialPath);
    const QString chosen = request.IncludeFiles
                               ? QFileDialog::getOpenFileName(Owner(), Text(request.Title), start)
                               : QFileDialog::getExistingDirectory(Owner(), Text(request.Title), start,
                                                                   QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return chosen.toStdString();
}

std::optional<int32_t> TQtPrompts::ChooseColor(int32_t initial) {
    const QColor chosen = QColorDialog::getColor(ColorToQColor(initial), Owner());
    if (!chosen.isValid()) {
        return std::nullopt;
    }
    return QColorToColor(chosen);
}

} // namespace sw
