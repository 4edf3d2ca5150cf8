#pragma once

#include "engine/BroadcastController.h"

#include <array>

namespace sw {

// One action of the main window as its list declares it.
struct TMainActionInfo {
    TMainAction Action;
    const char* Name;
    const char* Caption;
    const char* Category;
    int Image; // index into the main image list, -1 for none
    // Added to the action at creation beside its own shortcut (it has none); "" for none.
    const char* SecondaryShortcut;
    bool Checkable;
};

// In TMainAction order.
extern const std::array<TMainActionInfo, kMainActionCount> kMainActions;

inline const TMainActionInfo& MainActionInfo(TMainAction action) {
    return kMainActions[static_cast<size_t>(action)];
}

// The five view actions, in view order (the book's page numbers).
constexpr std::array<TMainAction, 5> kViewActions = {TMainAction::ViewBroadcast, TMainAction::ViewConnections,
                                                     TMainAction::ViewLog, TMainAction::ViewConfiguration,
                                                     TMainAction::ViewAbout};

} // namespace sw
