#pragma once
// The statement catalogue: every statement the program issues against a project database.
// Texts are exact; placeholders are filled by FormatSql (sqlaccess.h) in order.

#include <array>
#include <string_view>

inline constexpr const char* SQL_PICTURE_MAX_ID = "SELECT MAX(picture_id) FROM picture";
inline constexpr const char* SQL_PICTURE_FILE_NAMES =
    "SELECT picture_id, original_filename FROM picture";
inline constexpr const char* SQL_PICTURES_OF_ALBUM =
    "SELECT picture_id, orientation, crop_X1, crop_Y1, crop_X2, crop_Y2, picture_date, title, "
    "title2, original_filename, original_hash, original_date, original_size, original_width, "
    "original_height, large_filename, large_size, medium_filename, medium_size, thumb_filename, "
    "thumb_size, sort_order, modified, thumb_signature_id, medium_signature_id, is_deleted, "
    "is_private, album_id FROM picture WHERE album_id = %d ORDER BY sort_order ASC";
inline constexpr const char* SQL_FACE_PICTURES =
    "SELECT p.* FROM album a, picture p WHERE a.face_picture_id=p.picture_id";
inline constexpr const char* SQL_PICTURE_INSERT =
    "INSERT INTO picture (picture_id, orientation, crop_X1, crop_Y1, crop_X2, crop_Y2, "
    "picture_date, title, title2, original_filename, original_hash, original_date, original_size, "
    "original_width, original_height, large_filename, large_size, medium_filename, medium_size, "
    "thumb_filename, thumb_size, sort_order, modified, thumb_signature_id, medium_signature_id, "
    "is_deleted, is_private, album_id) VALUES (%d, %d, %d, %d, %d, %d, '%s', '%s', '%s', '%s', "
    "'%s', %d, %d, %d, %d, '%s', %d, '%s', %d, '%s', %d, %d, %d, %d, %d, %d, %d, %d)";
inline constexpr const char* SQL_PICTURE_UPDATE =
    "UPDATE picture SET orientation=%d, crop_X1=%d, crop_Y1=%d, crop_X2=%d, crop_Y2=%d, "
    "picture_date='%s', title='%s', title2='%s', original_filename='%s', original_hash='%s', "
    "original_date=%d, original_size=%d, original_width=%d, original_height=%d, "
    "large_filename='%s', large_size=%d, medium_filename='%s', medium_size=%d, "
    "thumb_filename='%s', thumb_size=%d, sort_order=%d, modified=%d, thumb_signature_id=%d, "
    "medium_signature_id=%d, is_deleted=%d, is_private=%d, album_id=%d WHERE picture_id=%d";
inline constexpr const char* SQL_PICTURE_DELETE = "DELETE * FROM picture WHERE picture_id=%d";
inline constexpr const char* SQL_CATEGORY_LINKS_OF_ALBUM =
    "SELECT c.category_id, c.picture_id, p.album_id FROM picture_to_category c, picture p WHERE "
    "p.picture_id=c.picture_id AND p.album_id=%d ORDER BY c.picture_id ASC";
inline constexpr const char* SQL_LINK_INSERT =
    "INSERT INTO picture_to_category (picture_id, category_id) VALUES (%d, %d)";
// SQLite: kLinkBatch links in one statement, (picture, category) pairs in row order. Bound
// values cost SQLite far less per row than reading them out of a JSON text.
inline constexpr int kLinkBatch = 64;
namespace statement_text {
constexpr auto linkBatch() {
  constexpr std::string_view head =
      "INSERT INTO picture_to_category (picture_id, category_id) VALUES (%d, %d)";
  constexpr std::string_view more = ", (%d, %d)";
  std::array<char, head.size() + (kLinkBatch - 1) * more.size() + 1> text{};
  size_t at = 0;
  for (const char c : head)
    text[at++] = c;
  for (int i = 1; i < kLinkBatch; ++i)
    for (const char c : more)
      text[at++] = c;
  return text;
}
inline constexpr auto kLinkBatchText = linkBatch();
} // namespace statement_text
inline constexpr const char* SQL_LINK_INSERT_BATCH = statement_text::kLinkBatchText.data();
inline constexpr const char* SQL_LINKS_DELETE_BY_PICTURE =
    "DELETE * FROM picture_to_category WHERE picture_id=%d";
inline constexpr const char* SQL_LINKS_DELETE_BY_PICTURE_RANGE =
    "DELETE * FROM picture_to_category WHERE picture_id>=%d AND picture_id<=%d";
inline constexpr const char* SQL_LINKS_DELETE_BY_CATEGORY =
    "DELETE * FROM picture_to_category WHERE category_id=%d";
inline constexpr const char* SQL_ALBUM_MAX_ID = "SELECT MAX(album_id) FROM album";
inline constexpr const char* SQL_ALBUMS =
    "SELECT a.album_id, a.face_picture_id, a.album_date, a.short_name, a.short_name2, "
    "a.long_name, a.long_name2, a.description, a.description2, a.is_private, a.directory, a.path, "
    "sum(p.modified) as PictureCount FROM album a LEFT OUTER JOIN picture p ON "
    "p.album_id=a.album_id GROUP BY a.album_id, a.face_picture_id, a.album_date, a.short_name, "
    "a.short_name2, a.long_name, a.long_name2, a.description, a.description2, a.is_private, "
    "a.directory, a.path ORDER BY a.album_id DESC";
inline constexpr const char* SQL_ALBUM_INSERT =
    "INSERT INTO album (album_id, face_picture_id, album_date, short_name, short_name2, "
    "long_name, long_name2, description, description2, is_private, directory, path) VALUES (%d, "
    "%d, '%s', '%s', '%s', '%s', '%s', '%s', '%s', %d, '%s', '%s')";
inline constexpr const char* SQL_ALBUM_UPDATE =
    "UPDATE album SET face_picture_id=%d, album_date='%s', short_name='%s', short_name2='%s', "
    "long_name='%s', long_name2='%s', description='%s', description2='%s', is_private=%d, "
    "directory='%s', path='%s' WHERE album_id=%d";
inline constexpr const char* SQL_ALBUM_DELETE = "DELETE * FROM album WHERE album_id=%d";
inline constexpr const char* SQL_CATEGORY_MAX_ID = "SELECT MAX(category_id) FROM category";
inline constexpr const char* SQL_CATEGORIES =
    "SELECT c.category_id, c.title, c.title2, c.description, c.description2, "
    "count(p.picture_id) AS pic_count FROM category AS c LEFT JOIN picture_to_category AS p ON "
    "c.category_id=p.category_id GROUP BY c.category_id, c.title, c.title2, c.description, "
    "c.description2 ORDER BY c.title";
inline constexpr const char* SQL_CATEGORY_INSERT =
    "INSERT INTO category (category_id, title, title2, description, description2) VALUES ( %d, "
    "'%s', '%s', '%s', '%s' )";
inline constexpr const char* SQL_CATEGORY_UPDATE =
    "UPDATE category SET title='%s', title2='%s', description='%s', description2='%s' WHERE "
    "category_id=%d";
inline constexpr const char* SQL_CATEGORY_DELETE = "DELETE * FROM category WHERE category_id=%d";
inline constexpr const char* SQL_CATEGORY_LINKED_PICTURES =
    "SELECT picture_id FROM picture_to_category WHERE category_id=%d";
inline constexpr const char* SQL_SIGNATURE_ITEM_MAX_ID =
    "SELECT MAX(signature_item_id) FROM signature_item";
inline constexpr const char* SQL_SIGNATURE_ITEMS =
    "SELECT signature_item_id, signature_item_name, caption, font_name, font_size, font_style, "
    "font_color, image_name, image_transparent FROM signature_item ORDER BY signature_item_id ASC";
inline constexpr const char* SQL_SIGNATURE_ITEM_INSERT =
    "INSERT INTO signature_item (signature_item_id, signature_item_name, caption, font_name, "
    "font_size, font_style, font_color, image_name, image_transparent) VALUES ( %d, '%s', '%s', "
    "'%s', %d, '%s', %d, '%s', %d )";
inline constexpr const char* SQL_SIGNATURE_ITEM_UPDATE =
    "UPDATE signature_item SET signature_item_name='%s', caption='%s', font_name='%s', "
    "font_size=%d, font_style='%s', font_color=%d, image_name='%s', image_transparent=%d WHERE "
    "signature_item_id=%d";
inline constexpr const char* SQL_SIGNATURE_ITEM_DELETE =
    "DELETE * FROM signature_item WHERE signature_item_id=%d";
inline constexpr const char* SQL_SIGNATURE_MAP_OF_SIGNATURE =
    "SELECT signature_id, signature_item_id, location, sign_order, offset_x, offset_y FROM "
    "signature_map WHERE signature_id=%d  ORDER BY sign_order ASC";
inline constexpr const char* SQL_SIGNATURE_MAP_INSERT =
    "INSERT INTO signature_map (signature_id, signature_item_id, location, sign_order, offset_x, "
    "offset_y) VALUES ( %d, %d, %d, %d, %d, %d )";
inline constexpr const char* SQL_SIGNATURE_MAP_DELETE =
    "DELETE * FROM signature_map WHERE signature_id=%d";
inline constexpr const char* SQL_SIGNATURE_MAX_ID = "SELECT MAX(signature_id) FROM signature";
inline constexpr const char* SQL_SIGNATURES =
    "SELECT signature_id, signature_name FROM signature ORDER BY signature_id ASC";
inline constexpr const char* SQL_SIGNATURE_INSERT =
    "INSERT INTO signature (signature_id, signature_name) VALUES ( %d, '%s' )";
inline constexpr const char* SQL_SIGNATURE_UPDATE =
    "UPDATE signature SET signature_name='%s' WHERE signature_id=%d";
inline constexpr const char* SQL_SIGNATURE_DELETE = "DELETE * FROM signature WHERE signature_id=%d";
