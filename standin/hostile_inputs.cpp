#include "standin/hostile_inputs.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>

#include "messaging/message.hpp"
#include "messaging/wire_names.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Outcome = HostileInput::Outcome;

// One mirror as the table addresses it.
struct Target {
    Mirror mirror;
    std::string_view origin;
    std::string_view index_key;
    std::uint64_t size;
    std::uint64_t mask;  // the cell's bits
    std::string label;
};

// A field's stand-in: a value, or the member left out.
struct Field {
    std::string label;
    std::optional<Message> value;  // nullopt: missing
};

Field missing() { return {"missing", std::nullopt}; }

// Values no number field takes, whatever it means.
std::vector<Field> non_numbers() {
    return {
        missing(),
        {"a string", Message("7")},
        {"null", Message(nullptr)},
        {"an array", Message::array({7})},
        {"an object", Message{{"n", 7}}},
        {"invalid UTF-8 text", Message("\xff\xfe")},
        {"1e300", Message(1e300)},
        {"-1e300", Message(-1e300)},
        {"NaN", Message(std::nan(""))},
        {"infinity", Message(std::numeric_limits<double>::infinity())},
        {"minus infinity", Message(-std::numeric_limits<double>::infinity())},
    };
}

// Numbers no index takes: negative, or past the mirror (also after any
// narrowing of the index).
std::vector<Field> bad_indexes(const Target& t) {
    std::vector<Field> fields = non_numbers();
    fields.push_back({"-1", Message(-1)});
    fields.push_back({"-1.5", Message(-1.5)});
    fields.push_back({"the size", Message(t.size)});
    fields.push_back({"the size + 1", Message(t.size + 1)});
    fields.push_back({"2^32 + 1", Message(std::uint64_t{1} << 32 | 1)});
    fields.push_back({"2^64 - 1", Message(std::numeric_limits<std::uint64_t>::max())});
    fields.push_back({"-2^63", Message(std::numeric_limits<std::int64_t>::min())});
    fields.push_back({"1e19", Message(1e19)});
    return fields;
}

// Odd values every field takes as the integer they stand for (fraction cut
// toward zero, boolean as 0 or 1), kept to the cell's low bits.
struct OddValue {
    std::string label;
    Message value;
    std::uint64_t bits;
};

std::vector<OddValue> odd_values() {
    return {
        {"-1", Message(-1), ~std::uint64_t{0}},
        {"2.7", Message(2.7), 2},
        {"-2.5", Message(-2.5), ~std::uint64_t{0} - 1},
        {"2^64 - 1", Message(std::numeric_limits<std::uint64_t>::max()), ~std::uint64_t{0}},
        {"300", Message(300), 300},
        {"2^40 + 5", Message((std::uint64_t{1} << 40) + 5), 5},
        {"true", Message(true), 1},
    };
}

Bytes envelope_bytes(std::string_view sub_type, const Message& data, std::string_view origin) {
    return encode(make_envelope(MessageKind::event, std::string(sub_type), data, std::string(origin), ""));
}

class Table {
public:
    std::vector<HostileInput> entries;

    void undecodable(std::string name, Bytes body, int refusal_id = 0) {
        HostileInput e;
        e.name = std::move(name);
        e.body = std::move(body);
        e.outcome = Outcome::undecodable;
        e.refusal_id = refusal_id;
        entries.push_back(std::move(e));
    }

    void add(std::string name, Bytes body, Outcome outcome) {
        HostileInput e;
        e.name = std::move(name);
        e.body = std::move(body);
        e.outcome = outcome;
        entries.push_back(std::move(e));
    }

    void applied(std::string name, Bytes body, const Target& t, std::size_t first, std::vector<std::uint32_t> values) {
        HostileInput e;
        e.name = std::move(name);
        e.body = std::move(body);
        e.outcome = Outcome::applied;
        e.mirror = t.mirror;
        e.first = first;
        e.values = std::move(values);
        entries.push_back(std::move(e));
    }

    // The next cell of t no entry has changed yet. Cells 0 and 1 are kept
    // for the boolean indexes, the last register for the end of the batch.
    std::size_t fresh_cell(const Target& t) {
        std::size_t& next = next_cell_[static_cast<int>(t.mirror)];
        if (next < 2) next = 2;
        return next++;
    }

    // How many fresh cells t still has.
    std::size_t cells_left(const Target& t) {
        const std::size_t next = std::max<std::size_t>(next_cell_[static_cast<int>(t.mirror)], 2);
        const std::size_t usable = t.mirror == Mirror::register_file ? t.size - 1 : t.size;
        return usable > next ? usable - next : 0;
    }

private:
    std::size_t next_cell_[4] = {};
};

Message with(Message object, std::string_view key, const std::optional<Message>& value) {
    if (value) object[std::string(key)] = *value;
    return object;
}

void write_events(Table& table, const Target& t) {
    const std::string write = t.label + " write, ";
    const std::string index_key(t.index_key);
    for (const Field& f : bad_indexes(t)) {
        Message data = with(Message{{"value", 9}}, t.index_key, f.value);
        table.add(write + index_key + " " + f.label, envelope_bytes(wire::sub_write, data, t.origin), Outcome::refused);
    }
    for (const Field& f : non_numbers()) {
        Message data = with(Message{{index_key, 3}}, wire::key_value, f.value);
        table.add(write + "value " + f.label, envelope_bytes(wire::sub_write, data, t.origin), Outcome::refused);
    }
    for (const OddValue& v : odd_values()) {
        std::size_t cell = table.fresh_cell(t);
        Message data{{index_key, cell}, {"value", v.value}};
        table.applied(write + "value " + v.label, envelope_bytes(wire::sub_write, data, t.origin), t, cell,
                      {static_cast<std::uint32_t>(v.bits & t.mask)});
    }
    {
        std::size_t cell = table.fresh_cell(t);
        Message data{{index_key, static_cast<double>(cell) + 0.75}, {"value", 6}};
        table.applied(write + index_key + " with a fraction", envelope_bytes(wire::sub_write, data, t.origin), t, cell,
                      {6});
    }
    table.applied(write + index_key + " true", envelope_bytes(wire::sub_write, {{index_key, true}, {"value", 7}}, t.origin),
                  t, 1, {7});
    table.applied(write + index_key + " false",
                  envelope_bytes(wire::sub_write, {{index_key, false}, {"value", 8}}, t.origin), t, 0, {8});
    for (const Message& data : {Message(nullptr), Message(5), Message("text"), Message::array({3, 9})}) {
        table.add(write + "data " + std::string(data.type_name()), envelope_bytes(wire::sub_write, data, t.origin),
                  Outcome::refused);
    }
    Message no_data = make_envelope(MessageKind::event, std::string(wire::sub_write), nullptr, std::string(t.origin), "");
    no_data.erase(std::string(wire::key_data));
    table.add(write + "data missing", encode(no_data), Outcome::refused);
}

void load_events(Table& table, const Target& t) {
    const std::string load = t.label + " load, ";
    for (const Field& f : bad_indexes(t)) {
        Message data = with(Message{{"values", {1, 2}}}, wire::key_start, f.value);
        table.add(load + "start " + f.label, envelope_bytes(wire::sub_load, data, t.origin), Outcome::refused);
    }
    for (const Message& values : {Message("1,2"), Message(5), Message(nullptr), Message{{"0", 1}}}) {
        table.add(load + "values " + std::string(values.type_name()),
                  envelope_bytes(wire::sub_load, {{"start", 2}, {"values", values}}, t.origin), Outcome::refused);
    }
    for (const Field& f : non_numbers()) {
        if (!f.value) continue;
        Message data{{"start", 2}, {"values", {1, *f.value, 3}}};
        table.add(load + "a value " + f.label, envelope_bytes(wire::sub_load, data, t.origin), Outcome::refused);
    }
    // A load of nothing loads nothing, whatever its start.
    table.add(load + "values missing", envelope_bytes(wire::sub_load, {{"start", 2}}, t.origin), Outcome::ignored);
    table.add(load + "no values from past the end",
              envelope_bytes(wire::sub_load, {{"start", t.size + 5}, {"values", Message::array()}}, t.origin),
              Outcome::ignored);
    table.add(load + "past the end",
              envelope_bytes(wire::sub_load, {{"start", t.size - 1}, {"values", {1, 2}}}, t.origin), Outcome::refused);
    table.add(load + "more values than cells",
              envelope_bytes(wire::sub_load, {{"start", 0}, {"values", std::vector<int>(t.size + 1, 4)}}, t.origin),
              Outcome::refused);
    {
        // As many as there are cells for, one kept for the fractional start.
        std::vector<OddValue> odd = odd_values();
        odd.resize(std::min(odd.size(), table.cells_left(t) - 1));
        Message values = Message::array();
        std::vector<std::uint32_t> expected;
        std::size_t first = table.fresh_cell(t);
        for (std::size_t k = 0; k < odd.size(); ++k) {
            if (k > 0) table.fresh_cell(t);
            values.push_back(odd[k].value);
            expected.push_back(static_cast<std::uint32_t>(odd[k].bits & t.mask));
        }
        table.applied(load + "odd values", envelope_bytes(wire::sub_load, {{"start", first}, {"values", values}}, t.origin),
                      t, first, expected);
    }
    {
        std::size_t cell = table.fresh_cell(t);
        Message data{{"start", static_cast<double>(cell) + 0.5}, {"values", {11}}};
        table.applied(load + "start with a fraction", envelope_bytes(wire::sub_load, data, t.origin), t, cell, {11});
    }
}

// Fields of the envelope itself, around a valid data-memory write.
void envelope_fields(Table& table, const Target& dm, const Target& rf) {
    auto base = [&](std::size_t cell) {
        return make_envelope(MessageKind::event, std::string(wire::sub_write), Message{{"address", cell}, {"value", 12}},
                             std::string(dm.origin), "");
    };
    const std::string origin_key(wire::key_origin);
    const std::string sub_key(wire::key_message_sub_type);
    for (const Field& f : std::vector<Field>{missing(),
                                             {"null", Message(nullptr)},
                                             {"a number", Message(5)},
                                             {"empty", Message("")},
                                             {"unknown", Message("QZ3_MK.cache")},
                                             {"in other case", Message("qz3_mk.data_memory")},
                                             {"with invalid UTF-8", Message("QZ3_MK.data_memory\xff")}}) {
        Message m = base(3);
        if (f.value) m[origin_key] = *f.value;
        else m.erase(origin_key);
        table.add("envelope, origin " + f.label, encode(m), Outcome::ignored);
    }
    for (const Field& f : std::vector<Field>{missing(),
                                             {"null", Message(nullptr)},
                                             {"a number", Message(5)},
                                             {"in other case", Message("WRITE")},
                                             {"with invalid UTF-8", Message("wr\xc3\x28ite")}}) {
        for (const Target* t : {&dm, &rf}) {
            Message m = base(3);
            m[origin_key] = std::string(t->origin);
            if (f.value) m[sub_key] = *f.value;
            else m.erase(sub_key);
            table.add("envelope, " + t->label + " sub-type " + f.label, encode(m), Outcome::ignored);
        }
    }
    {
        std::size_t cell = table.fresh_cell(dm);
        Message m = base(cell);
        m[std::string(wire::key_message_type)] = "ev\xed\xa0\x80nt";
        table.applied("envelope, message_type with invalid UTF-8", encode(m), dm, cell, {12});
    }
    {
        std::size_t cell = table.fresh_cell(dm);
        Message m = base(cell);
        m[std::string(wire::key_destination)] = "\x80\x80";
        table.applied("envelope, destination with invalid UTF-8", encode(m), dm, cell, {12});
    }
    {
        Message m = base(3);
        m.erase(origin_key);
        m["orig\xffin"] = std::string(dm.origin);
        table.add("envelope, the key origin with invalid UTF-8", encode(m), Outcome::ignored);
    }
    table.add("data memory write, the key address with invalid UTF-8",
              envelope_bytes(wire::sub_write, {{"addr\xff" "ess", 3}, {"value", 12}}, dm.origin), Outcome::refused);
}

Bytes repeated(std::uint8_t byte, std::size_t n) { return Bytes(n, byte); }

// A typed array of count nulls, its count as a 32-bit integer: nine bytes.
Bytes typed_nulls(std::size_t count) {
    Bytes b{'[', '$', 'Z', '#', 'l'};
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(count >> shift));
    return b;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Bodies that are not one bounded UBJSON value.
void undecodable_bodies(Table& table) {
    const Bytes valid = envelope_bytes(wire::sub_write, {{"address", 3}, {"value", 12}}, wire::data_memory);
    table.undecodable("empty body", {});
    table.undecodable("text, not UBJSON", {'h', 'e', 'l', 'l', 'o'});
    table.undecodable("an unknown marker", {'X'});
    for (std::size_t cut : {std::size_t{1}, valid.size() / 3, valid.size() / 2, valid.size() - 1}) {
        table.undecodable("an envelope cut to " + std::to_string(cut) + " bytes", Bytes(valid.begin(), valid.begin() + static_cast<long>(cut)));
    }
    table.undecodable("one trailing byte", concat({valid, {'Z'}}));
    table.undecodable("two envelopes in one body", concat({valid, valid}));

    table.undecodable("arrays nested 65 deep", concat({repeated('[', 65), repeated(']', 65)}), decode_refused_depth);
    table.undecodable("arrays opened 100000 deep", repeated('[', 100000), decode_refused_depth);
    {
        Bytes objects;
        for (int i = 0; i < 65; ++i) objects.insert(objects.end(), {'{', 'i', 1, 'k'});
        objects.push_back('Z');
        objects.insert(objects.end(), 65, '}');
        table.undecodable("objects nested 65 deep", objects, decode_refused_depth);
    }
    table.undecodable("2^31 - 1 typed nulls", {'[', '$', 'Z', '#', 'l', 0x7F, 0xFF, 0xFF, 0xFF}, decode_refused_count);
    table.undecodable("2^62 typed trues", {'[', '$', 'T', '#', 'L', 0x40, 0, 0, 0, 0, 0, 0, 0}, decode_refused_count);
    table.undecodable("2^31 - 1 counted values, none there", {'[', '#', 'l', 0x7F, 0xFF, 0xFF, 0xFF}, decode_refused_count);
    table.undecodable("an object of 2^31 - 1 typed falses", {'{', '$', 'F', '#', 'l', 0x7F, 0xFF, 0xFF, 0xFF},
                      decode_refused_count);
    table.undecodable("one typed null more than a count may declare", typed_nulls(decode_max_count + 1),
                      decode_refused_count);
    table.undecodable("two arrays of as many typed nulls as a count may declare",
                      concat({{'['}, typed_nulls(decode_max_count), typed_nulls(decode_max_count), {']'}}),
                      decode_refused_values);
    table.undecodable("a string claiming 2^31 - 1 bytes", {'S', 'l', 0x7F, 0xFF, 0xFF, 0xFF, 'a', 'b', 'c'});
    table.undecodable("a string claiming 1 GiB", {'S', 'l', 0x40, 0x00, 0x00, 0x00, 'a'});
    table.undecodable("a string claiming 2^62 bytes", {'S', 'L', 0x40, 0, 0, 0, 0, 0, 0, 0, 'a'});
    table.undecodable("a string of negative length", {'S', 'i', 0xFF, 'a'});
    table.undecodable("a key claiming 1 GiB", {'{', 'l', 0x40, 0x00, 0x00, 0x00, 'a', 'Z', '}'});
    table.undecodable("a high-precision number claiming 1 GiB", {'H', 'l', 0x40, 0x00, 0x00, 0x00, '1'});
    table.undecodable("a high-precision number that is no number", {'H', 'i', 3, '1', '.', 'x'});
    table.undecodable("a float cut short", {'D', 0x7F, 0xF0});
}

// Values that decode but are no envelope: printed and applied nowhere.
void non_envelopes(Table& table) {
    table.add("a number", encode(Message(7)), Outcome::ignored);
    table.add("a text", encode(Message("write")), Outcome::ignored);
    table.add("null", encode(Message(nullptr)), Outcome::ignored);
    table.add("an array", encode(Message::array({1, "origin", nullptr})), Outcome::ignored);
    table.add("invalid UTF-8 alone", encode(Message("\xff\xfe\xfd")), Outcome::ignored);
    table.add("arrays nested 63 deep", concat({repeated('[', 63), repeated(']', 63)}), Outcome::ignored);
    // With the array itself, as many values as a body may hold.
    table.add("as many typed nulls as a body may hold", typed_nulls(decode_max_values - 1), Outcome::ignored);
}

}  // namespace

std::vector<HostileInput> hostile_inputs() {
    const Target rf{Mirror::register_file, wire::register_file, wire::key_register_number, 16, 0xFF, "register file"};
    const Target im{Mirror::instruction_memory, wire::instruction_memory, wire::key_address, 256, 0xFFFFFFFF,
                    "instruction memory"};
    const Target dm{Mirror::data_memory, wire::data_memory, wire::key_address, 256, 0xFF, "data memory"};
    Table table;
    undecodable_bodies(table);
    non_envelopes(table);
    for (const Target* t : {&rf, &im, &dm}) {
        write_events(table, *t);
        load_events(table, *t);
    }
    envelope_fields(table, dm, rf);
    return std::move(table.entries);
}
