#include "platform/shell/OperatorPrompts.h"

#include <cstdio>

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
    std::fprintf(stderr, "[Dialog] %s -> Canceled\n", title.c_str());
    std::fflush(stderr);
}

} // namespace

void TConsolePrompts::ShowMessage(const std::string& text, TMessageKind kind) {
    std::fprintf(stderr, "[%s] %s\n", KindName(kind), text.c_str());
    std::fflush(stderr);
}

bool TConsolePrompts::Confirm(const std::string& text) {
    std::fprintf(stderr, "[Confirm] %s -> No\n", text.c_str());
    std::fflush(stderr);
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
