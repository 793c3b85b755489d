// Anchor so that the processing library always has an object file.
namespace { [[maybe_unused]] int layer_processing_anchor = 0; }
