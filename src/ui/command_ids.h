#pragma once

#include <wx/defs.h>

namespace qs::ui {

// The frame's commands: menu items, toolbar buttons, accelerators and context menus share
// these ids, so a list view can send one to the frame as a wxEVT_MENU event.
enum CommandId : int {
    ID_SCAN = wxID_HIGHEST + 1,
    ID_PAUSE,
    ID_STOP,
    ID_BROWSE_DIR,
    ID_RESET_GROUP,
    ID_AUTOGRAB,
    ID_OPEN_NZB,
    ID_OPTIONS,
    ID_WIZARD,
    ID_EXIT,
    ID_GRAB,
    ID_GRAB_AND_OPEN,
    ID_ENQUEUE,
    ID_READ_MESSAGE,
    ID_POST_MESSAGE,
    ID_MOVE_TO_TOP,
    ID_REMOVE_FROM_QUEUE,
    ID_REMOVE_FROM_LIST,
    ID_COPY_SUBJECTS,
    ID_JUMP_TO_URL,
    ID_ITEM_BROWSE_DIR,
    ID_PROPERTIES,
    ID_FIND,
    ID_SELECT_ALL,
    ID_EXPAND_MULTIGROUPS,
    ID_COLLAPSE_MULTIGROUPS,
    ID_CLEAR_QUEUE,
    ID_CLEAR_LOG,
    ID_VIEW_LIST,
    ID_VIEW_QUEUE,
    ID_VIEW_LOG,
    ID_NEXT_TAB,
    ID_TOGGLE_TOOLBAR,
    ID_TOGGLE_STATUSBAR,
    ID_TOGGLE_SPEEDBAR,
    ID_TOGGLE_THREADBAR,
    ID_HELP_CONTENTS,
    ID_VERSION_HISTORY,
    ID_TIP_OF_THE_DAY,
    ID_ABOUT,
    ID_EDIT_GROUPS,
    ID_REMOVE_GROUP,  // the Delete key: decided by where the focus is
    ID_TRAY_SHOW,
    ID_PART_READ_MESSAGE,
};

// The tabs of the attachment list.
enum ListTab : int { kTabList = 0, kTabQueue = 1, kTabLog = 2 };

}  // namespace qs::ui
