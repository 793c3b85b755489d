// Anchor so that the core library always has an object file.
namespace { [[maybe_unused]] int layer_core_anchor = 0; }
