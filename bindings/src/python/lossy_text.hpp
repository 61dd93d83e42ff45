#pragma once

#include <Python.h>

#include <string>

namespace orven::bindings::python {

// The UTF-8 text of a str (or subclass) that may hold lone surrogates,
// which have no UTF-8 form: each such code point becomes three U+FFFD, the
// same as decoding its surrogate-escaped bytes with replacement.  Used for
// texts that only go into messages, where a readable approximation beats a
// second failure.  Never fails.
std::string lossy_utf8(PyObject* text);

}  // namespace orven::bindings::python
