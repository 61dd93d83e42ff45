#include "extractor/extraction_in_progress.hpp"

#include <string>

#include "fatal/fatal_error.hpp"
#include "features/minimal/compute.hpp"
#include "pool/global_pool.hpp"

namespace orven::extractor {
namespace {

std::vector<std::size_t> cut_into_blocks(std::span<const features::common::SeriesView> series,
                                         std::span<features::minimal::FeatureValues> values) {
    if (series.size() != values.size()) {
        fatal::raise("ExtractionInProgress: " + std::to_string(series.size()) + " series but " +
                     std::to_string(values.size()) + " result slots");
    }
    std::vector<std::size_t> ends;
    std::size_t in_block = 0;
    std::size_t elements = 0;
    for (std::size_t i = 0; i < series.size(); ++i) {
        ++in_block;
        elements += series[i].size();
        if (in_block == ExtractionInProgress::block_size ||
            elements >= ExtractionInProgress::block_elements) {
            ends.push_back(i + 1);
            in_block = 0;
            elements = 0;
        }
    }
    if (in_block > 0) {
        ends.push_back(series.size());
    }
    return ends;
}

}  // namespace

ExtractionInProgress::ExtractionInProgress(std::span<const features::common::SeriesView> series,
                                           std::span<features::minimal::FeatureValues> values,
                                           pool::Interruption* interruption)
    : series_(series),
      values_(values),
      block_ends_(cut_into_blocks(series, values)),
      batch_(pool::global_pool(), block_ends_.size(), run_block_, interruption) {}

void ExtractionInProgress::RunBlock::operator()(std::size_t block) const {
    for (std::size_t i = self->block_begin(block); i < self->block_ends_[block]; ++i) {
        self->values_[i] = features::minimal::compute(self->series_[i]);
    }
}

bool ExtractionInProgress::wait_for(std::size_t count) {
    std::size_t needed = ready_blocks_;
    while (needed < block_ends_.size() && block_begin(needed) < count) {
        ++needed;
    }
    if (!batch_.wait_for_blocks(ready_blocks_, needed)) {
        return false;
    }
    ready_blocks_ = needed;
    return true;
}

}  // namespace orven::extractor
