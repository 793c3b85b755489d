// Anchor so that the util library always has an object file.
namespace { [[maybe_unused]] int layer_util_anchor = 0; }
