#pragma once

#include "platform/shell/OperatorPrompts.h"

#include <QString>

namespace sw {

// The windowed answers to the prompts: message boxes, the item and value choosers, the file and folder
// dialogs and the colour dialog of Qt, owned by the active window.
class TQtPrompts : public TOperatorPrompts {
public:
    void ShowMessage(const std::string& text, TMessageKind kind) override;
    bool Confirm(const std::string& text) override;
    std::optional<int> ChooseItem(const std::string& title, const std::string& label,
                                  const std::vector<std::string>& items, int current) override;
    bool EditValues(const std::string& title, std::vector<TValueField>& fields) override;
    std::optional<std::string> ChooseOpenFile(const TOpenFileRequest& request) override;
    std::optional<std::string> BrowseForFolder(const TBrowseRequest& request) override;
    std::optional<int32_t> ChooseColor(int32_t initial) override;

    // "Wave Files (*.wav)|*.wav|All Files (*.*)|*.*" as Qt's "Wave Files (*.wav);;All Files (*)".
    static QString QtFilter(const std::string& filter);
};

} // namespace sw
