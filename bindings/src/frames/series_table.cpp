#include "frames/series_table.hpp"

namespace orven::bindings::frames {

SeriesTable tabulate(const CompositeKey& key, const GroupedRows& grouping, std::uint64_t kind_range, bool has_kind) {
    SeriesTable table;
    if (kind_range == 0) kind_range = 1;
    for (std::uint64_t b = 0; b < grouping.buckets; ++b) {
        if (grouping.size(b) > 0) table.buckets.push_back(b);
    }
    const std::size_t groups = table.buckets.size();
    table.id_of_group.resize(groups);
    table.kind_of_group.assign(groups, 0);
    std::vector<std::int64_t> kind_row(has_kind ? kind_range : 0, -1);
    std::uint64_t previous_id = 0;
    for (std::size_t g = 0; g < groups; ++g) {
        const std::uint64_t bucket = table.buckets[g];
        const std::uint64_t value = key.bucket_value(bucket);
        const std::uint64_t id = has_kind ? value / kind_range : value;
        const std::int64_t row = grouping.first_row[bucket];
        if (g == 0 || id != previous_id) {
            table.id_rows.push_back(row);
            previous_id = id;
        }
        table.id_of_group[g] = static_cast<std::int64_t>(table.id_rows.size()) - 1;
        if (has_kind) {
            std::int64_t& first = kind_row[value % kind_range];
            if (first < 0 || row < first) first = row;
        }
    }
    if (has_kind) {
        // Kinds renumbered over those present, keeping their order.
        std::vector<std::int64_t> place(kind_range, -1);
        for (std::uint64_t k = 0; k < kind_range; ++k) {
            if (kind_row[k] < 0) continue;
            place[k] = static_cast<std::int64_t>(table.kind_rows.size());
            table.kind_rows.push_back(kind_row[k]);
        }
        for (std::size_t g = 0; g < groups; ++g) {
            table.kind_of_group[g] = place[key.bucket_value(table.buckets[g]) % kind_range];
        }
    }
    return table;
}

}  // namespace orven::bindings::frames
