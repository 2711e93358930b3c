// Benchmark pages: real HTML documentation installed on the machine where
// there is some, else generated pages of the same shape.
#pragma once

#include <cstddef>
#include <string>

namespace bench {

// A page of about `size` bytes with a head, a body and typical markup
// (paragraphs, tables, comments, strong/em, UTF-8 text), built from the
// installed HTML documentation when it can be found.
std::string MakePage(size_t size);

// MakePage(size), made once per size and kept for the whole run.
const std::string& CachedPage(size_t size);

// A page of about `size` bytes whose markup holds nothing the document
// model steps of the optimisation would edit.
std::string MakePlainPage(size_t size);

} // namespace bench
