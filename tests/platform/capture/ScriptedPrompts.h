#pragma once

#include "platform/shell/OperatorPrompts.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace sw::test {

// Operator prompts that record what was asked and answer from a script; installed for the lifetime
// of the object.
class TScriptedPrompts : public TOperatorPrompts {
public:
    TScriptedPrompts() { SetPrompts(this); }
    ~TScriptedPrompts() override { SetPrompts(nullptr); }
    TScriptedPrompts(const TScriptedPrompts&) = delete;
    TScriptedPrompts& operator=(const TScriptedPrompts&) = delete;

    void ShowMessage(const std::string& text, TMessageKind kind) override {
        Messages.push_back(text);
        Kinds.push_back(kind);
    }
    bool Confirm(const std::string& text) override {
        Messages.push_back(text);
        return false;
    }
    std::optional<int> ChooseItem(const std::string& title, const std::string&,
                                  const std::vector<std::string>& items, int current) override {
        Titles.push_back(title);
        LastItems = items;
        LastCurrent = current;
        if (Choices.empty()) {
            return std::nullopt;
        }
        std::optional<int> choice = Choices.front();
        Choices.pop_front();
        return choice;
    }
    bool EditValues(const std::string& title, std::vector<TValueField>& fields) override {
        Titles.push_back(title);
        LastFields = fields;
        if (Edits.empty()) {
            return false;
        }
        fields = Edits.front();
        Edits.pop_front();
        return true;
    }

    std::vector<std::string> Messages;
    std::vector<TMessageKind> Kinds;
    std::vector<std::string> Titles;
    std::vector<std::string> LastItems;
    int LastCurrent = -1;
    std::vector<TValueField> LastFields;
    // Answers in order; an empty script cancels.
    std::deque<std::optional<int>> Choices;
    std::deque<std::vector<TValueField>> Edits;
};

} // namespace sw::test
