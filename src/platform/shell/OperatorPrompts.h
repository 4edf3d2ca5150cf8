#pragma once

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
};

// Without windows: messages go to standard error, confirmations are answered No, dialogs are cancelled.
class TConsolePrompts : public TOperatorPrompts {
public:
    void ShowMessage(const std::string& text, TMessageKind kind) override;
    bool Confirm(const std::string& text) override;
    std::optional<int> ChooseItem(const std::string& title, const std::string& label,
                                  const std::vector<std::string>& items, int current) override;
    bool EditValues(const std::string& title, std::vector<TValueField>& fields) override;
};

// The process's prompts; a TConsolePrompts until a front end installs its own. Main thread only.
TOperatorPrompts& Prompts();
// Installs prompts (not owned); nullptr restores the console prompts.
void SetPrompts(TOperatorPrompts* prompts);

} // namespace sw
