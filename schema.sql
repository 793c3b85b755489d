-- Tables of a LumenFold project database. The build turns this file into template.db,
-- which a new project copies to its own database file.
CREATE TABLE album (
  album_id INTEGER PRIMARY KEY,
  face_picture_id INTEGER NOT NULL DEFAULT -1,
  album_date TEXT,
  short_name TEXT,
  short_name2 TEXT,
  long_name TEXT,
  long_name2 TEXT,
  description TEXT,
  description2 TEXT,
  is_private INTEGER NOT NULL DEFAULT 0,
  directory TEXT,
  path TEXT
);

CREATE TABLE picture (
  picture_id INTEGER PRIMARY KEY,
  orientation INTEGER NOT NULL DEFAULT 1,
  crop_X1 INTEGER NOT NULL DEFAULT -1,
  crop_Y1 INTEGER NOT NULL DEFAULT -1,
  crop_X2 INTEGER NOT NULL DEFAULT -1,
  crop_Y2 INTEGER NOT NULL DEFAULT -1,
  picture_date TEXT,
  title TEXT,
  title2 TEXT,
  original_filename TEXT,
  original_hash TEXT,
  original_date INTEGER NOT NULL DEFAULT -1,
  original_size INTEGER NOT NULL DEFAULT -1,
  original_width INTEGER NOT NULL DEFAULT -1,
  original_height INTEGER NOT NULL DEFAULT -1,
  large_filename TEXT,
  large_size INTEGER NOT NULL DEFAULT -1,
  medium_filename TEXT,
  medium_size INTEGER NOT NULL DEFAULT -1,
  thumb_filename TEXT,
  thumb_size INTEGER NOT NULL DEFAULT -1,
  sort_order INTEGER NOT NULL DEFAULT 0,
  modified INTEGER NOT NULL DEFAULT 0,
  thumb_signature_id INTEGER NOT NULL DEFAULT -1,
  medium_signature_id INTEGER NOT NULL DEFAULT -1,
  is_deleted INTEGER NOT NULL DEFAULT 0,
  is_private INTEGER NOT NULL DEFAULT 0,
  album_id INTEGER NOT NULL
);
CREATE INDEX picture_album ON picture (album_id, sort_order);

CREATE TABLE category (
  category_id INTEGER PRIMARY KEY,
  title TEXT,
  title2 TEXT,
  description TEXT,
  description2 TEXT
);

CREATE TABLE picture_to_category (
  picture_id INTEGER NOT NULL,
  category_id INTEGER NOT NULL
);
CREATE INDEX picture_to_category_picture ON picture_to_category (picture_id);
CREATE INDEX picture_to_category_category ON picture_to_category (category_id);

CREATE TABLE signature_item (
  signature_item_id INTEGER PRIMARY KEY,
  signature_item_name TEXT,
  caption TEXT,
  font_name TEXT,
  font_size INTEGER NOT NULL DEFAULT 8,
  font_style TEXT,
  font_color INTEGER NOT NULL DEFAULT 0,
  image_name TEXT,
  image_transparent INTEGER NOT NULL DEFAULT 16777215
);

CREATE TABLE signature_map (
  signature_id INTEGER NOT NULL,
  signature_item_id INTEGER NOT NULL,
  location INTEGER NOT NULL DEFAULT 9,
  sign_order INTEGER NOT NULL DEFAULT -1,
  offset_x INTEGER NOT NULL DEFAULT -1,
  offset_y INTEGER NOT NULL DEFAULT -1
);
CREATE INDEX signature_map_signature ON signature_map (signature_id, sign_order);

CREATE TABLE signature (
  signature_id INTEGER PRIMARY KEY,
  signature_name TEXT
);
