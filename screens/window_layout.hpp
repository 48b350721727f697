#pragma once

#include "core/app.hpp"
#include "platform/ui.hpp"

namespace tarvel {

// Sets the window's icon from the IconImage configuration value and its
// title from LoginFormText, as every launcher window does.
void set_icon_and_title(App& app, WindowId window);

// After the user resized a window: its control keeps its top-left corner and
// takes the rest of the client area, keeping the left margin on the right
// and the left and top margins together below.
void fit_control_to_client(Ui& ui, WindowId window, int client_width, int client_height);

}  // namespace tarvel
