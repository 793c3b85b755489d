// Anchor so that the db library always has an object file.
namespace { [[maybe_unused]] int layer_db_anchor = 0; }
