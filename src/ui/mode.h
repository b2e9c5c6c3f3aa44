// The window's modes: one per operation, and the about page.
#pragma once

namespace torvel {

enum class Mode { Convert = 1, Crop, Resize, Split, Merge, About };

}  // namespace torvel
