#include "platform/shell/OperatorPrompts.h"

#include "platform/shell/ConsoleWriter.h"

namespace sw {

namespace {

TOperatorPrompts* gPrompts = nullptr;

const char* KindName(TMessageKind kind) {
    switch (kind) {
    case TMessageKind::Warning:
        return "Warning";
    case TMessageKind::Error:
        return "Error";
    case TMessageKind::Information:
        break;
    }
    return "Information";
}

void Canceled(const std::string& title) {
    WriteConsoleLine("[Dialog] " + title + " -> Canceled");
}

} // namespace

void TConsolePrompts::ShowMessage(const std::string& text, TMessageKind kind) {
    WriteConsoleLine(std::string("[") + KindName(kind) + "] " + text);
}

bool TConsolePrompts::Confirm(const std::string& text) {
    WriteConsoleLine("[Confirm] " + text + " -> No");
    return false;
}

std::optional<int> TConsolePrompts::ChooseItem(const std::string& title, const std::string&,
                                               const std::vector<std::string>&, int) {
    Canceled(title);
    return std::nullopt;
}

bool TConsolePrompts::EditValues(const std::string& title, std::vector<TValueField>&) {
    Canceled(title);
    return false;
}

std::optional<std::string> TConsolePrompts::ChooseOpenFile(const TOpenFileRequest& request) {
    Canceled(request.Title);
    return std::nullopt;
}

std::optional<std::string> TConsolePrompts::BrowseForFolder(const TBrowseRequest& request) {
    Canceled(request.Title);
    return std::nullopt;
}

std::optional<int32_t> TConsolePrompts::ChooseColor(int32_t) {
    Canceled("Color");
    return std::nullopt;
}

TOperatorPrompts& Prompts() {
    static TConsolePrompts console;
    return gPrompts ? *gPrompts : console;
}

void SetPrompts(TOperatorPrompts* prompts) {
    gPrompts = prompts;
}

} // namespace sw
