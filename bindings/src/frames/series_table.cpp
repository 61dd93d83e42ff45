#include "frames/series_table.hpp"

namespace orven::bindings::frames {
namespace {

using memory::row_buffer;

void list_groups(const GroupedRows& grouping, SeriesTable& table) {
    for (std::uint64_t b = 0; b < grouping.buckets; ++b) table.groups += grouping.size(b) > 0 ? 1 : 0;
    table.buckets = row_buffer<std::uint64_t>(table.groups);
    std::size_t g = 0;
    for (std::uint64_t b = 0; b < grouping.buckets; ++b) {
        if (grouping.size(b) > 0) table.buckets[g++] = b;
    }
}

// The groups of one id are consecutive: the id is the combined value
// without its kind, and the buckets ascend.
void number_ids(const CompositeKey& key, const GroupedRows& grouping, std::uint64_t kind_range, SeriesTable& table) {
    table.id_of_group = row_buffer<std::int64_t>(table.groups);
    table.id_rows = row_buffer<std::int64_t>(table.groups);
    std::uint64_t previous_id = 0;
    for (std::size_t g = 0; g < table.groups; ++g) {
        const std::uint64_t bucket = table.buckets[g];
        const std::uint64_t id = key.bucket_value(bucket) / kind_range;
        if (g == 0 || id != previous_id) {
            table.id_rows[table.ids++] = grouping.first_row[bucket];
            previous_id = id;
        }
        table.id_of_group[g] = static_cast<std::int64_t>(table.ids) - 1;
    }
}

// Kinds numbered over those present, keeping their order; each with the
// first row, in frame order, that holds it.
void number_kinds(const CompositeKey& key, const GroupedRows& grouping, std::uint64_t kind_range, SeriesTable& table) {
    auto kind_row = row_buffer<std::int64_t>(kind_range);
    for (std::uint64_t k = 0; k < kind_range; ++k) kind_row[k] = -1;
    for (std::size_t g = 0; g < table.groups; ++g) {
        const std::uint64_t bucket = table.buckets[g];
        std::int64_t& first = kind_row[key.bucket_value(bucket) % kind_range];
        const std::int64_t row = grouping.first_row[bucket];
        if (first < 0 || row < first) first = row;
    }
    auto place = row_buffer<std::int64_t>(kind_range);
    table.kind_rows = row_buffer<std::int64_t>(kind_range);
    for (std::uint64_t k = 0; k < kind_range; ++k) {
        place[k] = static_cast<std::int64_t>(table.kinds);
        if (kind_row[k] >= 0) table.kind_rows[table.kinds++] = kind_row[k];
    }
    table.kind_of_group = row_buffer<std::int64_t>(table.groups);
    for (std::size_t g = 0; g < table.groups; ++g) {
        table.kind_of_group[g] = place[key.bucket_value(table.buckets[g]) % kind_range];
    }
}

void one_kind(SeriesTable& table) {
    table.kinds = 1;
    table.kind_rows = row_buffer<std::int64_t>(1);
    table.kind_rows[0] = 0;
    table.kind_of_group = row_buffer<std::int64_t>(table.groups);
    for (std::size_t g = 0; g < table.groups; ++g) table.kind_of_group[g] = 0;
}

}  // namespace

SeriesTable tabulate(const CompositeKey& key, const GroupedRows& grouping, std::uint64_t kind_range, bool has_kind) {
    if (!has_kind || kind_range == 0) kind_range = 1;
    SeriesTable table;
    list_groups(grouping, table);
    number_ids(key, grouping, kind_range, table);
    if (has_kind) {
        number_kinds(key, grouping, kind_range, table);
    } else {
        one_kind(table);
    }
    return table;
}

}  // namespace orven::bindings::frames
