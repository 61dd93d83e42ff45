#include "frames/column_buffer.hpp"

namespace orven::bindings::frames {

ColumnBuffer::ColumnBuffer(const call::HeldArray& array) noexcept
    : array_(&array), item_size_(static_cast<std::size_t>(array.element().size)), format_(array.element().type) {}

}  // namespace orven::bindings::frames
