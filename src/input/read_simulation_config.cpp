#include "input/read_simulation_config.h"

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "common/decimal_text.h"
#include "input/json_cursor.h"
#include "input/reader_messages.h"

namespace abyx {

namespace {

// The state of one read: the cursor, the unknown keys met so far and where the reader is.
struct ConfigReader {
  JsonCursor cursor;                           // position in the text
  std::vector<std::string> unknown_key_paths;  // document order
  std::string path;                            // path of the current member: "", "beam", "0"
  std::string failed_field;                    // key path of the innermost field that failed
  std::string_view failed_takes;               // what that field takes; empty for a record
};

// Remembers the innermost field whose value failed, by its key path: the reader's path ends in
// the field's key or, in the positional form, its index.
void note_failed_field(ConfigReader& reader, std::string_view key, std::string_view takes) {
  if (!reader.failed_field.empty()) return;
  const std::size_t dot = reader.path.rfind('.');
  reader.failed_field = dot == std::string::npos ? std::string() : reader.path.substr(0, dot + 1);
  reader.failed_field += key;
  reader.failed_takes = takes;
}

// KeyOnly fields are defaulted and read by key alone: they follow every positional field, so
// the positional form keeps the length it has always had. Grouped fields stand or fall together:
// each is required, unless the object leaves out all of them and gives another field; the
// positional form requires them.
enum class Presence { Required, Defaulted, KeyOnly, Grouped };

// One field of a record: its key, whether it may be absent, and how its value is read.
template <class Record>
struct SchemaField {
  std::string_view key;                  // JSON key, compared byte for byte
  Presence presence;                     // required, or defaulted when absent
  bool (*read)(ConfigReader&, Record&);  // reads the value at the cursor into the field
  std::string_view takes = {};           // what the value must be, for the note of a failed read
};

// A record's name (as messages write it) and its fields in declaration order.
template <class Record>
struct RecordSchema {
  std::string_view name;                        // e.g. "BeamSettings"
  std::span<const SchemaField<Record>> fields;  // declaration order, also the positional order
};

// Whether a positional read starts at the array's first element or after an element already read.
enum class ArrayPlace { FirstElement, AfterElement };

std::string quoted_key_message(std::string_view what, std::string_view key) {
  return std::string(what) + " `" + std::string(key) + "`";
}

// Adds one key or index to the current path for the duration of a member's value.
class PathScope {
 public:
  PathScope(std::string& path, std::string_view part) : path_(path), mark_(path.size()) {
    if (!path_.empty()) path_ += '.';
    path_ += part;
  }
  ~PathScope() { path_.resize(mark_); }
  PathScope(const PathScope&) = delete;
  PathScope& operator=(const PathScope&) = delete;

 private:
  std::string& path_;
  std::size_t mark_;
};

template <class Record>
std::size_t find_field(const RecordSchema<Record>& schema, std::string_view key) {
  for (std::size_t k = 0; k < schema.fields.size(); ++k) {
    if (schema.fields[k].key == key) return k;
  }
  return schema.fields.size();
}

// The first required field not seen, in declaration order, or the field count when none.
template <class Record>
std::size_t first_missing(const RecordSchema<Record>& schema, std::uint32_t seen) {
  std::uint32_t grouped = 0;
  for (std::size_t k = 0; k < schema.fields.size(); ++k) {
    if (schema.fields[k].presence == Presence::Grouped) grouped |= 1u << k;
  }
  const bool group_left_out = (seen & grouped) == 0 && seen != 0;
  for (std::size_t k = 0; k < schema.fields.size(); ++k) {
    const Presence presence = schema.fields[k].presence;
    const bool required =
        presence == Presence::Required || (presence == Presence::Grouped && !group_left_out);
    if (required && !(seen & (1u << k))) return k;
  }
  return schema.fields.size();
}

// The number of fields the positional form reads: all up to the first key-only one.
template <class Record>
std::size_t positional_count(const RecordSchema<Record>& schema) {
  std::size_t k = 0;
  while (k < schema.fields.size() && schema.fields[k].presence != Presence::KeyOnly) ++k;
  return k;
}

// ----- values by type -----

bool read_f32(ConfigReader& reader, float& value) {
  if (!starts_number(peek_char(reader.cursor))) return fail_invalid_type(reader.cursor, kWantF32);
  JsonNumber number;
  if (!read_number(reader.cursor, number)) return false;
  value = to_f32(number);
  return true;
}

bool read_optional_f32(ConfigReader& reader, std::optional<float>& value) {
  if (peek_char(reader.cursor) == 'n') {
    if (!read_literal(reader.cursor, "null")) return false;
    value.reset();
    return true;
  }
  float present = 0.0f;
  if (!read_f32(reader, present)) return false;
  value = present;
  return true;
}

// The hot path of the reader: c_m_s may hold millions of values.
bool read_f32_list(ConfigReader& reader, std::vector<float>& values) {
  JsonCursor& cursor = reader.cursor;
  if (peek_char(cursor) != '[') return fail_invalid_type(cursor, kWantSequence);
  values.clear();
  bool has_element = false;
  if (!begin_array(cursor, has_element)) return false;
  while (has_element) {
    if (!starts_number(peek_char(cursor))) return fail_invalid_type(cursor, kWantF32);
    JsonNumber number;
    if (!read_number(cursor, number)) return false;
    values.push_back(to_f32(number));
    if (!continue_array(cursor, has_element)) return false;
  }
  return true;
}

bool read_position(ConfigReader& reader, std::array<float, 3>& position) {
  JsonCursor& cursor = reader.cursor;
  if (peek_char(cursor) != '[') return fail_invalid_type(cursor, kWantPosition);
  bool has_element = false;
  if (!begin_array(cursor, has_element)) return false;
  std::size_t count = 0;
  while (has_element) {
    if (!read_f32(reader, position[count])) return false;
    ++count;
    if (count == position.size()) return end_array(cursor);
    if (!continue_array(cursor, has_element)) return false;
  }
  return fail(cursor, cursor.pos - 1,
              std::string(kInvalidLengthLead) + decimal_text(count) + std::string(kExpectedMiddle) +
                  std::string(kWantPosition));
}

bool read_bool(ConfigReader& reader, bool& value) {
  JsonCursor& cursor = reader.cursor;
  const int c = peek_char(cursor);
  if (c == 't' && cursor.text.substr(cursor.pos, 4) == "true") {
    cursor.pos += 4;
    value = true;
    return true;
  }
  if (c == 'f' && cursor.text.substr(cursor.pos, 5) == "false") {
    cursor.pos += 5;
    value = false;
    return true;
  }
  return fail_invalid_type(cursor, kWantBoolean);
}

bool read_text(ConfigReader& reader, std::string& text) {
  if (peek_char(reader.cursor) != '"') return fail_invalid_type(reader.cursor, kWantString);
  return read_string(reader.cursor, text);
}

bool read_usize(ConfigReader& reader, std::uint64_t& value) {
  JsonCursor& cursor = reader.cursor;
  const std::size_t offset = cursor.pos;
  if (!starts_number(peek_char(cursor))) return fail_invalid_type(cursor, kWantUsize);
  JsonNumber number;
  if (!read_number(cursor, number)) return false;
  switch (number.kind) {
    case JsonNumber::Kind::Unsigned:
      value = number.unsigned_value;
      return true;
    case JsonNumber::Kind::Negative:
      return fail(cursor, offset,
                  std::string(kInvalidValueLead) + describe_number(number) +
                      std::string(kExpectedMiddle) + std::string(kWantUsize));
    case JsonNumber::Kind::Float:
      break;
  }
  return fail(cursor, offset,
              std::string(kInvalidTypeLead) + describe_number(number) +
                  std::string(kExpectedMiddle) + std::string(kWantUsize));
}

bool match_integration_method(JsonCursor& cursor, std::size_t offset, std::string_view name,
                              IntegrationMethod& method) {
  if (name == "euler") {
    method = IntegrationMethod::Euler;
  } else if (name == "rk2") {
    method = IntegrationMethod::Rk2;
  } else {
    return fail(
        cursor, offset,
        quoted_key_message(kUnknownVariant, name) + std::string(kIntegrationMethodsExpected));
  }
  return true;
}

// "euler" or "rk2", or an object holding one of them as its only key with a null value.
bool read_integration_method(ConfigReader& reader, IntegrationMethod& method) {
  JsonCursor& cursor = reader.cursor;
  const std::size_t offset = cursor.pos;
  const int c = peek_char(cursor);
  if (c == '"') {
    if (!read_string(cursor, cursor.scratch)) return false;
    return match_integration_method(cursor, offset, cursor.scratch, method);
  }
  if (c != '{') {
    // a malformed number reports itself first (-Infinity is "invalid number")
    JsonNumber ignored;
    if (starts_number(c) && !read_number(cursor, ignored)) return false;
    cursor.pos = offset;
    return fail_expected_value(cursor);
  }

  if (!open_container(cursor)) return false;
  skip_whitespace(cursor);
  if (peek_char(cursor) != '"') return fail_expected_value(cursor);
  const std::size_t key_offset = cursor.pos;
  std::string_view name;
  if (!read_member_key(cursor, name)) return false;
  if (!match_integration_method(cursor, key_offset, name, method)) return false;
  if (peek_char(cursor) != 'n') return fail_invalid_type(cursor, kWantNull);
  if (!read_literal(cursor, "null")) return false;
  skip_whitespace(cursor);
  if (peek_char(cursor) != '}') return fail_expected_value(cursor);
  ++cursor.pos;
  --cursor.open_containers;
  return true;
}

// A name, or a number; reading one clears the other.
bool read_text_or_f32(ConfigReader& reader, std::string& text, std::optional<float>& number) {
  const int c = peek_char(reader.cursor);
  if (c == '"') {
    number.reset();
    return read_string(reader.cursor, text);
  }
  if (!starts_number(c)) return fail_invalid_type(reader.cursor, kWantStringOrF32);
  float value = 0.0f;
  if (!read_f32(reader, value)) return false;
  number = value;
  return true;
}

// A width rule by name, or the initial half-width as a number of metres.
bool read_beam_width(ConfigReader& reader, BeamSettings& beam) {
  return read_text_or_f32(reader, beam.beam_width_text, beam.beam_width_m);
}

// A pattern's levels: a list of numbers, or a list of rows of numbers (one row per azimuth).
bool read_levels(ConfigReader& reader, BeamPattern& pattern) {
  JsonCursor& cursor = reader.cursor;
  if (peek_char(cursor) != '[') return fail_invalid_type(cursor, kWantSequence);
  const std::size_t start = cursor.pos;
  ++cursor.pos;
  skip_whitespace(cursor);
  const bool nested = peek_char(cursor) == '[';
  cursor.pos = start;
  pattern.level_db.clear();
  pattern.rows.reset();
  pattern.uneven_rows = false;
  if (!nested) return read_f32_list(reader, pattern.level_db);
  bool has_row = false;
  if (!begin_array(cursor, has_row)) return false;
  std::vector<float> row;
  std::size_t rows = 0;
  while (has_row) {
    if (!read_f32_list(reader, row)) return false;
    pattern.level_db.insert(pattern.level_db.end(), row.begin(), row.end());
    pattern.uneven_rows = pattern.uneven_rows || row.size() * (rows + 1) != pattern.level_db.size();
    ++rows;
    if (!continue_array(cursor, has_row)) return false;
  }
  pattern.rows = rows;
  return true;
}

// The absorption by name, or the same loss at every frequency as a number of dB/km.
bool read_absorption(ConfigReader& reader, Water& water) {
  return read_text_or_f32(reader, water.absorption_text, water.absorption_db_per_km);
}

// ----- records -----

template <class Record>
bool read_record_object(ConfigReader& reader, const RecordSchema<Record>& schema, Record& record) {
  JsonCursor& cursor = reader.cursor;
  std::uint32_t seen = 0;
  bool has_member = false;
  if (!begin_object(cursor, has_member)) return false;
  while (has_member) {
    const std::size_t key_offset = cursor.pos;
    std::string_view key;  // held in the cursor's scratch until the value is read
    if (!read_member_key(cursor, key)) return false;
    const std::size_t index = find_field(schema, key);
    if (index == schema.fields.size()) {
      // unknown: reported by path, its value skipped whole without looking inside
      if (reader.path.empty()) {
        reader.unknown_key_paths.emplace_back(key);
      } else {
        reader.unknown_key_paths.push_back(reader.path + "." + std::string(key));
      }
      if (!skip_value(cursor, DepthRule::Uncounted)) return false;
    } else {
      const std::uint32_t bit = 1u << index;
      if (seen & bit) return fail(cursor, key_offset, quoted_key_message(kDuplicateField, key));
      seen |= bit;
      PathScope scope(reader.path, schema.fields[index].key);
      if (!schema.fields[index].read(reader, record)) {
        note_failed_field(reader, schema.fields[index].key, schema.fields[index].takes);
        return false;
      }
    }
    if (!continue_object(cursor, has_member)) return false;
  }
  const std::size_t missing = first_missing(schema, seen);
  if (missing < schema.fields.size()) {
    return fail(cursor, cursor.pos - 1,
                quoted_key_message(kMissingField, schema.fields[missing].key));
  }
  return true;
}

// Reads the fields in declaration order from array elements; defaulted fields may be left off
// the end. The cursor is inside the array, at its first element or after an element.
template <class Record>
bool read_fields_in_order(ConfigReader& reader, const RecordSchema<Record>& schema, Record& record,
                          ArrayPlace place) {
  JsonCursor& cursor = reader.cursor;
  bool has_element = true;
  if (place == ArrayPlace::FirstElement) {
    skip_whitespace(cursor);
    if (peek_char(cursor) == ']') {
      ++cursor.pos;
      --cursor.open_containers;
      has_element = false;
    }
  } else if (!continue_array(cursor, has_element)) {
    return false;
  }
  const std::size_t positional = positional_count(schema);
  std::size_t count = 0;
  while (has_element) {
    {
      PathScope scope(reader.path, decimal_text(count));
      if (!schema.fields[count].read(reader, record)) {
        note_failed_field(reader, schema.fields[count].key, schema.fields[count].takes);
        return false;
      }
    }
    ++count;
    if (count == positional) return end_array(cursor);
    if (!continue_array(cursor, has_element)) return false;
  }
  for (std::size_t k = count; k < positional; ++k) {
    if (schema.fields[k].presence == Presence::Required ||
        schema.fields[k].presence == Presence::Grouped) {
      return fail(cursor, cursor.pos - 1,
                  std::string(kInvalidLengthLead) + decimal_text(count) +
                      std::string(kExpectedMiddle) + std::string(kWantStructLead) +
                      std::string(schema.name) + std::string(kStructLengthMiddle) +
                      decimal_text(positional) + std::string(kStructLengthTail));
    }
  }
  return true;
}

template <class Record>
bool read_record(ConfigReader& reader, const RecordSchema<Record>& schema, Record& record) {
  JsonCursor& cursor = reader.cursor;
  const int c = peek_char(cursor);
  if (c == '{') return read_record_object(reader, schema, record);
  if (c == '[') {
    if (!open_container(cursor)) return false;
    return read_fields_in_order(reader, schema, record, ArrayPlace::FirstElement);
  }
  return fail_invalid_type(cursor, std::string(kWantStructLead) + std::string(schema.name));
}

// A record that may be null, which leaves it absent; one that is read starts out as `unread`.
template <class Record>
bool read_optional_record(ConfigReader& reader, const RecordSchema<Record>& schema,
                          std::optional<Record>& record, const Record& unread = Record{}) {
  if (peek_char(reader.cursor) == 'n') {
    record.reset();
    return read_literal(reader.cursor, "null");
  }
  return read_record(reader, schema, record.emplace(unread));
}

// ----- the bottom model -----

using Acoustic = BottomBoundaryModel::Acoustic;
using Elastic = BottomBoundaryModel::Elastic;

constexpr SchemaField<Acoustic> kAcousticFields[] = {
    {"compressional_speed_m_s", Presence::Required,
     [](ConfigReader& r, Acoustic& a) { return read_f32(r, a.compressional_speed_m_s); },
     "a number of m/s"},
    {"density_g_cm3", Presence::Required,
     [](ConfigReader& r, Acoustic& a) { return read_f32(r, a.density_g_cm3); },
     "a number (g/cm^3)"},
    {"compressional_attenuation_db_per_wavelength", Presence::Defaulted,
     [](ConfigReader& r, Acoustic& a) {
       return read_optional_f32(r, a.compressional_attenuation_db_per_wavelength);
     },
     "a number of dB per wavelength"},
};
constexpr RecordSchema<Acoustic> kAcousticSchema{"Acoustic", kAcousticFields};

constexpr SchemaField<Elastic> kElasticFields[] = {
    {"compressional_speed_m_s", Presence::Required,
     [](ConfigReader& r, Elastic& e) { return read_f32(r, e.compressional_speed_m_s); },
     "a number of m/s"},
    {"shear_speed_m_s", Presence::Required,
     [](ConfigReader& r, Elastic& e) { return read_f32(r, e.shear_speed_m_s); }, "a number of m/s"},
    {"density_g_cm3", Presence::Required,
     [](ConfigReader& r, Elastic& e) { return read_f32(r, e.density_g_cm3); }, "a number (g/cm^3)"},
    {"compressional_attenuation_db_per_wavelength", Presence::Defaulted,
     [](ConfigReader& r, Elastic& e) {
       return read_optional_f32(r, e.compressional_attenuation_db_per_wavelength);
     },
     "a number of dB per wavelength"},
    {"shear_attenuation_db_per_wavelength", Presence::Defaulted,
     [](ConfigReader& r, Elastic& e) {
       return read_optional_f32(r, e.shear_attenuation_db_per_wavelength);
     },
     "a number of dB per wavelength"},
};
constexpr RecordSchema<Elastic> kElasticSchema{"Elastic", kElasticFields};

// The fields of a reflection table, wherever a boundary takes one.
constexpr SchemaField<ReflectionTableConfig> kReflectionTableFields[] = {
    {"angle_deg", Presence::Required,
     [](ConfigReader& r, ReflectionTableConfig& t) { return read_f32_list(r, t.angle_deg); },
     "a list of grazing angles (deg)"},
    {"magnitude", Presence::Required,
     [](ConfigReader& r, ReflectionTableConfig& t) { return read_f32_list(r, t.magnitude); },
     "a list of numbers"},
    {"phase_deg", Presence::Required,
     [](ConfigReader& r, ReflectionTableConfig& t) { return read_f32_list(r, t.phase_deg); },
     "a list of phases (deg)"},
};
constexpr RecordSchema<ReflectionTableConfig> kReflectionTableSchema{"ReflectionTable",
                                                                     kReflectionTableFields};

enum class BottomAlternative { Rigid, Acoustic, Elastic, Table };

// A member of a bottom_model object, held until the tag is known.
struct HeldMember {
  std::string key;           // decoded key
  std::size_t key_offset;    // where the key starts (byte offset)
  std::size_t value_offset;  // where its value starts (byte offset)
};

bool read_bottom_tag(ConfigReader& reader, BottomAlternative& alternative) {
  JsonCursor& cursor = reader.cursor;
  const std::size_t offset = cursor.pos;
  if (peek_char(cursor) != '"') return fail_invalid_type(cursor, kWantVariantIdentifier);
  if (!read_string(cursor, cursor.scratch)) return false;
  const std::string_view tag = cursor.scratch;
  if (tag == "rigid") {
    alternative = BottomAlternative::Rigid;
  } else if (tag == "acoustic") {
    alternative = BottomAlternative::Acoustic;
  } else if (tag == "elastic") {
    alternative = BottomAlternative::Elastic;
  } else if (tag == "table") {
    alternative = BottomAlternative::Table;
  } else {
    return fail(cursor, offset,
                quoted_key_message(kUnknownVariant, tag) + std::string(kBottomModelsExpected));
  }
  return true;
}

// Reads the held members as the alternative's fields; members with other keys are dropped.
template <class Alternative>
bool read_held_members(ConfigReader& reader, const RecordSchema<Alternative>& schema,
                       const std::vector<HeldMember>& held, std::size_t close_offset,
                       Alternative& alternative) {
  JsonCursor& cursor = reader.cursor;
  const std::size_t resume = cursor.pos;
  std::uint32_t seen = 0;
  for (const HeldMember& member : held) {
    const std::size_t index = find_field(schema, member.key);
    if (index == schema.fields.size()) continue;
    const std::uint32_t bit = 1u << index;
    if (seen & bit) {
      return fail(cursor, member.key_offset, quoted_key_message(kDuplicateField, member.key));
    }
    seen |= bit;
    cursor.pos = member.value_offset;
    if (!schema.fields[index].read(reader, alternative)) return false;
  }
  cursor.pos = resume;
  const std::size_t missing = first_missing(schema, seen);
  if (missing < schema.fields.size()) {
    return fail(cursor, close_offset,
                quoted_key_message(kMissingField, schema.fields[missing].key));
  }
  return true;
}

// The object form: the tag "model" may stand anywhere, so every other member is held (checked
// and counted against the recursion limit) and read once the alternative is known.
bool read_bottom_model_object(ConfigReader& reader, BottomBoundaryModel& model) {
  JsonCursor& cursor = reader.cursor;
  std::vector<HeldMember> held;
  bool has_tag = false;
  BottomAlternative alternative = BottomAlternative::Rigid;
  bool has_member = false;
  if (!begin_object(cursor, has_member)) return false;
  while (has_member) {
    const std::size_t key_offset = cursor.pos;
    std::string_view key;
    if (!read_member_key(cursor, key)) return false;
    if (key == "model") {
      if (has_tag) return fail(cursor, key_offset, quoted_key_message(kDuplicateField, "model"));
      if (!read_bottom_tag(reader, alternative)) return false;
      has_tag = true;
    } else {
      held.push_back({std::string(key), key_offset, cursor.pos});
      if (!skip_value(cursor, DepthRule::Counted)) return false;
    }
    if (!continue_object(cursor, has_member)) return false;
  }
  const std::size_t close_offset = cursor.pos - 1;
  if (!has_tag) return fail(cursor, close_offset, quoted_key_message(kMissingField, "model"));

  switch (alternative) {
    case BottomAlternative::Rigid:
      model.alternative = BottomBoundaryModel::Rigid{};
      return true;
    case BottomAlternative::Acoustic: {
      Acoustic acoustic;
      if (!read_held_members(reader, kAcousticSchema, held, close_offset, acoustic)) return false;
      model.alternative = acoustic;
      return true;
    }
    case BottomAlternative::Elastic: {
      Elastic elastic;
      if (!read_held_members(reader, kElasticSchema, held, close_offset, elastic)) return false;
      model.alternative = elastic;
      return true;
    }
    case BottomAlternative::Table: {
      ReflectionTableConfig table;
      if (!read_held_members(reader, kReflectionTableSchema, held, close_offset, table)) {
        return false;
      }
      model.alternative = table;
      return true;
    }
  }
  return true;
}

// The array form: the tag first, then the alternative's fields in declaration order. Lengths
// in its messages count the fields after the tag.
bool read_bottom_model_array(ConfigReader& reader, BottomBoundaryModel& model) {
  JsonCursor& cursor = reader.cursor;
  bool has_element = false;
  if (!begin_array(cursor, has_element)) return false;
  if (!has_element) return fail(cursor, cursor.pos - 1, quoted_key_message(kMissingField, "model"));
  BottomAlternative alternative = BottomAlternative::Rigid;
  if (!read_bottom_tag(reader, alternative)) return false;
  switch (alternative) {
    case BottomAlternative::Rigid:
      if (!end_array(cursor)) return false;
      model.alternative = BottomBoundaryModel::Rigid{};
      return true;
    case BottomAlternative::Acoustic: {
      Acoustic acoustic;
      if (!read_fields_in_order(reader, kAcousticSchema, acoustic, ArrayPlace::AfterElement)) {
        return false;
      }
      model.alternative = acoustic;
      return true;
    }
    case BottomAlternative::Elastic: {
      Elastic elastic;
      if (!read_fields_in_order(reader, kElasticSchema, elastic, ArrayPlace::AfterElement)) {
        return false;
      }
      model.alternative = elastic;
      return true;
    }
    case BottomAlternative::Table: {
      ReflectionTableConfig table;
      if (!read_fields_in_order(reader, kReflectionTableSchema, table, ArrayPlace::AfterElement)) {
        return false;
      }
      model.alternative = table;
      return true;
    }
  }
  return true;
}

bool read_bottom_model(ConfigReader& reader, BottomBoundaryModel& model) {
  const int c = peek_char(reader.cursor);
  if (c == '{') return read_bottom_model_object(reader, model);
  if (c == '[') return read_bottom_model_array(reader, model);
  return fail_invalid_type(reader.cursor, kWantBottomModel);
}

// ----- the schema -----

constexpr SchemaField<SoundSpeed> kSoundSpeedFields[] = {
    {"x_ssp_m", Presence::Required,
     [](ConfigReader& r, SoundSpeed& s) { return read_f32_list(r, s.x_ssp_m); },
     "a list of numbers"},
    {"y_ssp_m", Presence::Required,
     [](ConfigReader& r, SoundSpeed& s) { return read_f32_list(r, s.y_ssp_m); },
     "a list of numbers"},
    {"z_ssp_m", Presence::Required,
     [](ConfigReader& r, SoundSpeed& s) { return read_f32_list(r, s.z_ssp_m); },
     "a list of numbers"},
    {"c_m_s", Presence::Required,
     [](ConfigReader& r, SoundSpeed& s) { return read_f32_list(r, s.c_m_s); }, "a list of numbers"},
    {"interpolation", Presence::KeyOnly,
     [](ConfigReader& r, SoundSpeed& s) { return read_text(r, s.interpolation); },
     "\"nodes\", \"linear\" or \"pchip\""},
};
constexpr RecordSchema<SoundSpeed> kSoundSpeedSchema{"SoundSpeed", kSoundSpeedFields};

constexpr SchemaField<Bathymetry> kBathymetryFields[] = {
    {"x_bty_m", Presence::Required,
     [](ConfigReader& r, Bathymetry& b) { return read_f32_list(r, b.x_bty_m); },
     "a list of numbers"},
    {"y_bty_m", Presence::Required,
     [](ConfigReader& r, Bathymetry& b) { return read_f32_list(r, b.y_bty_m); },
     "a list of numbers"},
    {"z_bty_m", Presence::Required,
     [](ConfigReader& r, Bathymetry& b) { return read_f32_list(r, b.z_bty_m); },
     "a list of numbers"},
    {"water_density_g_cm3", Presence::Defaulted,
     [](ConfigReader& r, Bathymetry& b) { return read_optional_f32(r, b.water_density_g_cm3); },
     "a number (g/cm^3)"},
    {"bottom_model", Presence::Defaulted,
     [](ConfigReader& r, Bathymetry& b) { return read_bottom_model(r, b.bottom_model); },
     "an object whose \"model\" is \"rigid\", \"acoustic\" or \"elastic\", with that model's "
     "fields"},
};
constexpr RecordSchema<Bathymetry> kBathymetrySchema{"Bathymetry", kBathymetryFields};

constexpr SchemaField<BeamPattern> kBeamPatternFields[] = {
    {"elev_deg", Presence::Required,
     [](ConfigReader& r, BeamPattern& p) { return read_f32_list(r, p.elev_deg); },
     "a list of elevations (deg)"},
    {"level_db", Presence::Required,
     [](ConfigReader& r, BeamPattern& p) { return read_levels(r, p); },
     "a list of levels (dB), or one list per azimuth"},
    {"azim_deg", Presence::Defaulted,
     [](ConfigReader& r, BeamPattern& p) { return read_f32_list(r, p.azim_deg); },
     "a list of azimuths (deg)"},
};
constexpr RecordSchema<BeamPattern> kBeamPatternSchema{"BeamPattern", kBeamPatternFields};

bool read_beam_pattern(ConfigReader& reader, std::optional<BeamPattern>& pattern) {
  if (peek_char(reader.cursor) == 'n') {
    if (!read_literal(reader.cursor, "null")) return false;
    pattern.reset();
    return true;
  }
  BeamPattern read;
  if (!read_record(reader, kBeamPatternSchema, read)) return false;
  pattern = std::move(read);
  return true;
}

constexpr SchemaField<Water> kWaterFields[] = {
    {"absorption", Presence::Defaulted,
     [](ConfigReader& r, Water& w) { return read_absorption(r, w); },
     "\"none\", \"thorp\", \"francois_garrison\" or a number of dB/km"},
    {"temperature_c", Presence::Defaulted,
     [](ConfigReader& r, Water& w) { return read_f32(r, w.temperature_c); },
     "a number of degrees Celsius"},
    {"salinity_psu", Presence::Defaulted,
     [](ConfigReader& r, Water& w) { return read_f32(r, w.salinity_psu); }, "a number (psu)"},
    {"ph", Presence::Defaulted, [](ConfigReader& r, Water& w) { return read_f32(r, w.ph); },
     "a number"},
};
constexpr RecordSchema<Water> kWaterSchema{"Water", kWaterFields};

constexpr SchemaField<Source> kSourceFields[] = {
    {"position", Presence::Required,
     [](ConfigReader& r, Source& s) { return read_position(r, s.position); },
     "exactly three numbers: x, y and z (m)"},
    {"freq_hz", Presence::Required,
     [](ConfigReader& r, Source& s) { return read_f32_list(r, s.freq_hz); }, "a list of numbers"},
    {"launch_elev_deg", Presence::Required,
     [](ConfigReader& r, Source& s) { return read_f32_list(r, s.launch_elev_deg); },
     "a list of numbers"},
    {"launch_azim_deg", Presence::Required,
     [](ConfigReader& r, Source& s) { return read_f32_list(r, s.launch_azim_deg); },
     "a list of numbers"},
    {"beam_pattern", Presence::KeyOnly,
     [](ConfigReader& r, Source& s) { return read_beam_pattern(r, s.beam_pattern); },
     "an object with elev_deg and level_db (and azim_deg)"},
};
constexpr RecordSchema<Source> kSourceSchema{"Source", kSourceFields};

constexpr SchemaField<Receivers> kReceiversFields[] = {
    {"config_type", Presence::Required,
     [](ConfigReader& r, Receivers& v) { return read_text(r, v.config_type); },
     "\"grid\" or \"array\""},
    {"x_rcvr_m", Presence::Required,
     [](ConfigReader& r, Receivers& v) { return read_f32_list(r, v.x_rcvr_m); },
     "a list of numbers"},
    {"y_rcvr_m", Presence::Required,
     [](ConfigReader& r, Receivers& v) { return read_f32_list(r, v.y_rcvr_m); },
     "a list of numbers"},
    {"z_rcvr_m", Presence::Required,
     [](ConfigReader& r, Receivers& v) { return read_f32_list(r, v.z_rcvr_m); },
     "a list of numbers"},
};
constexpr RecordSchema<Receivers> kReceiversSchema{"Receivers", kReceiversFields};

constexpr SchemaField<BeamSettings> kBeamSettingsFields[] = {
    {"step_m", Presence::Required,
     [](ConfigReader& r, BeamSettings& b) { return read_f32(r, b.step_m); }, "a number of metres"},
    {"max_steps", Presence::Required,
     [](ConfigReader& r, BeamSettings& b) { return read_usize(r, b.max_steps); },
     "a whole number from 1 up, written without a fraction or an exponent"},
    {"max_range_m", Presence::Required,
     [](ConfigReader& r, BeamSettings& b) { return read_f32(r, b.max_range_m); },
     "a number of metres"},
    {"store_ray_paths", Presence::Defaulted,
     [](ConfigReader& r, BeamSettings& b) { return read_bool(r, b.store_ray_paths); },
     "true or false"},
    {"show_progress", Presence::Defaulted,
     [](ConfigReader& r, BeamSettings& b) { return read_bool(r, b.show_progress); },
     "true or false"},
    {"atomic_progress_counter", Presence::Defaulted,
     [](ConfigReader& r, BeamSettings& b) { return read_bool(r, b.atomic_progress_counter); },
     "true or false"},
    {"integration_method", Presence::Defaulted,
     [](ConfigReader& r, BeamSettings& b) {
       return read_integration_method(r, b.integration_method);
     },
     "\"euler\" or \"rk2\""},
    {"beam_type", Presence::KeyOnly,
     [](ConfigReader& r, BeamSettings& b) { return read_text(r, b.beam_type); },
     "\"geometric\" or \"cerveny\""},
    {"beam_width", Presence::KeyOnly,
     [](ConfigReader& r, BeamSettings& b) { return read_beam_width(r, b); },
     "\"min_width\", \"space_filling\" or a number of metres"},
    {"incoherent", Presence::KeyOnly,
     [](ConfigReader& r, BeamSettings& b) { return read_bool(r, b.incoherent); }, "true or false"},
    {"interruptible", Presence::KeyOnly,
     [](ConfigReader& r, BeamSettings& b) { return read_bool(r, b.interruptible); },
     "true or false"},
    {"arrivals", Presence::KeyOnly,
     [](ConfigReader& r, BeamSettings& b) { return read_bool(r, b.arrivals); }, "true or false"},
    {"max_arrivals", Presence::KeyOnly,
     [](ConfigReader& r, BeamSettings& b) { return read_usize(r, b.max_arrivals); },
     "a whole number from 1 up, written without a fraction or an exponent"},
    {"eigenrays", Presence::KeyOnly,
     [](ConfigReader& r, BeamSettings& b) { return read_bool(r, b.eigenrays); }, "true or false"},
    {"min_amplitude", Presence::KeyOnly,
     [](ConfigReader& r, BeamSettings& b) { return read_f32(r, b.min_amplitude); },
     "a number from 0 up"},
};
constexpr RecordSchema<BeamSettings> kBeamSettingsSchema{"BeamSettings", kBeamSettingsFields};

// The grid's lists mark it given: a section of a reflection table alone keeps the flat surface.
constexpr SchemaField<SeaSurface> kSeaSurfaceFields[] = {
    {"x_ati_m", Presence::Grouped,
     [](ConfigReader& r, SeaSurface& s) {
       s.grid_given = true;
       return read_f32_list(r, s.x_ati_m);
     },
     "a list of numbers"},
    {"y_ati_m", Presence::Grouped,
     [](ConfigReader& r, SeaSurface& s) {
       s.grid_given = true;
       return read_f32_list(r, s.y_ati_m);
     },
     "a list of numbers"},
    {"z_ati_m", Presence::Grouped,
     [](ConfigReader& r, SeaSurface& s) {
       s.grid_given = true;
       return read_f32_list(r, s.z_ati_m);
     },
     "a list of numbers"},
    {"reflection", Presence::KeyOnly,
     [](ConfigReader& r, SeaSurface& s) {
       return read_optional_record(r, kReflectionTableSchema, s.reflection);
     }},
};
constexpr RecordSchema<SeaSurface> kSeaSurfaceSchema{"SeaSurface", kSeaSurfaceFields};

constexpr SchemaField<SimulationConfig> kSimulationConfigFields[] = {
    {"ssp", Presence::Required,
     [](ConfigReader& r, SimulationConfig& c) { return read_record(r, kSoundSpeedSchema, c.ssp); }},
    {"bathymetry", Presence::Required,
     [](ConfigReader& r, SimulationConfig& c) {
       return read_record(r, kBathymetrySchema, c.bathymetry);
     }},
    {"source", Presence::Required,
     [](ConfigReader& r, SimulationConfig& c) { return read_record(r, kSourceSchema, c.source); }},
    {"receivers", Presence::Required,
     [](ConfigReader& r, SimulationConfig& c) {
       return read_record(r, kReceiversSchema, c.receivers);
     }},
    {"beam", Presence::Required,
     [](ConfigReader& r, SimulationConfig& c) {
       return read_record(r, kBeamSettingsSchema, c.beam);
     }},
    {"surface", Presence::KeyOnly,
     [](ConfigReader& r, SimulationConfig& c) {
       return read_optional_record(r, kSeaSurfaceSchema, c.surface,
                                   SeaSurface{{}, {}, {}, std::nullopt, false});
     }},
    {"water", Presence::KeyOnly,
     [](ConfigReader& r, SimulationConfig& c) { return read_record(r, kWaterSchema, c.water); }},
};
constexpr RecordSchema<SimulationConfig> kSimulationConfigSchema{"SimulationConfig",
                                                                 kSimulationConfigFields};

std::string position_suffix(std::string_view text, std::size_t offset) {
  const TextPosition position = locate_offset(text, offset);
  return std::string(kPositionLineLead) + decimal_text(position.line) +
         std::string(kPositionColumnMiddle) + decimal_text(position.column);
}

}  // namespace

ReadConfigResult read_simulation_config(std::string_view json_text) {
  ConfigReader reader;
  reader.cursor.text = json_text;
  SimulationConfig config;

  skip_whitespace(reader.cursor);
  bool ok = read_record(reader, kSimulationConfigSchema, config);
  if (ok) {
    skip_whitespace(reader.cursor);
    if (reader.cursor.pos < json_text.size()) {
      ok = fail(reader.cursor, reader.cursor.pos, std::string(kTrailingCharactersMessage));
    }
  }

  ReadConfigResult result;
  if (!ok) {
    const JsonFailure& failure = reader.cursor.failure;
    result.error = failure.message + position_suffix(json_text, failure.offset);
    // "in source.position, which takes exactly three numbers: ...", or nothing for a record
    if (!reader.failed_takes.empty()) {
      result.note = std::string(kFieldNoteLead) + reader.failed_field +
                    std::string(kFieldNoteMiddle) + std::string(reader.failed_takes);
    }
    return result;
  }
  result.config = std::move(config);
  result.unknown_key_paths = std::move(reader.unknown_key_paths);
  return result;
}

}  // namespace abyx
