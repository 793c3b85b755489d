// Anchor so that the ui library always has an object file.
namespace { [[maybe_unused]] int layer_ui_anchor = 0; }
