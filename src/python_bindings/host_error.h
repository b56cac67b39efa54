#pragma once

#include <string>
#include <string_view>

#include "python_bindings/py_ref.h"

namespace abyx {

// Shown in place of str() of a host exception whose own str() raised.
inline constexpr std::string_view kStrFailedText = "<exception str() failed>";

// A new Python str from UTF-8 bytes; invalid sequences become U+FFFD instead of failing.
PyRef make_str(std::string_view utf8);

// Takes the pending host exception and renders it for a message: its class name, ": ", then
// str() of it with unencodable characters replaced. The exception is consumed, not kept.
std::string take_host_error();

// Raises RuntimeError with prefix + the rendering of the pending host exception. The host
// exception is not attached as cause or context. One that is no Exception (KeyboardInterrupt,
// SystemExit, PanicException of a call made meanwhile) stays as it is: it asks to stop, it reports
// no failure of the step. Always returns null, for `return raise...`.
PyObject* raise_runtime_error_from_host(std::string_view prefix);

// Raises RuntimeError with prefix + detail. Always returns null.
PyObject* raise_runtime_error(std::string_view prefix, std::string_view detail);

// Adds the note to the exception being raised (shown under its message, str() unchanged); where
// the interpreter has no notes, or adding one fails, the exception stays as it was.
void add_note_to_raised(std::string_view note);

}  // namespace abyx
