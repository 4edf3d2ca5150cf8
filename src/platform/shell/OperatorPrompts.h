#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sw {

enum class TMessageKind { Information, Warning, Error };

// One editable number of a dialog (a driver's brightness, a frame size, ...).
struct TValueField {
    std::string Name;
    int Minimum = 0;
    int Maximum = 0;
    int Step = 1;
    int Value = 0;
};

// The file dialog of an "open" button. Filter is "Description|pattern|Description|pattern...".
struct TOpenFileRequest {
    std::string Title;
    std::string Filter;
    std::string DefaultExtension;
    std::string InitialPath;
    bool MustExist = true; // the folder and the file
};

// The folder browser: Root "" offers the whole file system; with IncludeFiles a file can be chosen
// as well as a folder.
struct TBrowseRequest {
    std::string Title;
    std::string Root;
    std::string InitialPath;
    bool IncludeFiles = false;
};

// Message boxes and dialogs, answered by Qt dialogs with windows and on standard error without them.
// Code below the user interface asks through this interface, so it never knows whether windows exist.
class TOperatorPrompts {
public:
    virtual ~TOperatorPrompts() = default;

    virtual void ShowMessage(const std::string& text, TMessageKind kind) = 0;
    // Yes (true) or No (false).
    virtual bool Confirm(const std::string& text) = 0;
    // Index of the chosen item, or nothing when the operator cancelled.
    virtual std::optional<int> ChooseItem(const std::string& title, const std::string& label,
                                          const std::vector<std::string>& items, int current) = 0;
    // Lets the operator change the fields in place; false when cancelled (fields unchanged).
    virtual bool EditValues(const std::string& title, std::vector<TValueField>& fields) = 0;
    // The chosen path, or nothing when cancelled. Prompts that offer no such dialog cancel it.
    virtual std::optional<std::string> ChooseOpenFile(const TOpenFileRequest&) { return std::nullopt; }
    virtual std::optional<std::string> BrowseForFolder(const TBrowseRequest&) { return std::nullopt; }
    // A colour (0x00BBGGRR) starting from initial, or nothing when cancelled.
    virtual std::optional<int32_t> ChooseColor(int32_t) { return std::nullopt; }
};

// Without windows: messages go to standard error, confirmations are answered No, dialogs are cancelled.
class TConsolePrompts : public TOperatorPrompts {
public:
    void ShowMessage(const std::string& text, TMessageKind kind) override;
    bool Confirm(const std::string& text) override;
    std::optional<int> ChooseItem(const std::string& title, const std::string& label,
                                  const std::vector<std::string>& items, int current) override;
    bool EditValues(const std::string& title, std::vector<TValueField>& fields) override;
    std::optional<std::string> ChooseOpenFile(const TOpenFileRequest& request) override;
    std::optional<std::string> BrowseForFolder(const TBrowseRequest& request) override;
    std::optional<int32_t> ChooseColor(int32_t initial) override;
};

// The process's prompts; a TConsolePrompts until a front end installs its own. Main thread only.
TOperatorPrompts& Prompts();
// Installs prompts (not owned); nullptr restores the console prompts.
void SetPrompts(TOperatorPrompts* prompts);

} // namespace sw
