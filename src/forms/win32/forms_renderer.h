// The Windows renderer of the form model: each loaded form's window gets real child controls
// (buttons, check boxes, labels, edit boxes, combo and list boxes, tab control, list views, an
// owner-drawn image view) in the common controls 6 look, placed from the model's twips with
// the display's factor, and the user's input goes back to the model as its events.
#pragma once

#include <memory>

#include "forms/forms.h"
#include "platform/platform.h"

namespace quilo::forms {

// Makes the process DPI-aware and initialises the common controls; call it before the first
// window is created. The renderer is then attached with Forms::attachRenderer.
std::unique_ptr<Renderer> makeWin32FormsRenderer(platform::Platform& platform);

}  // namespace quilo::forms
