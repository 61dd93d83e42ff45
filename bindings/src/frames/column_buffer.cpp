#include "frames/column_buffer.hpp"

#include "numpy/abi.hpp"

namespace orven::bindings::frames {

ColumnBuffer::ColumnBuffer(const call::HeldArray& array)
    : array_(&array),
      item_size_(static_cast<std::size_t>(
          numpy::element_size(array.descriptor(), numpy::array_api().feature_version))),
      format_(numpy::type_character(array.descriptor())) {}

}  // namespace orven::bindings::frames
