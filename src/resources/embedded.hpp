#pragma once
// The resource files compiled into the executable. The definitions are generated
// at build time from resources/ (cmake/resources.cmake); other code uses
// resources.hpp instead.

#include <span>
#include <string_view>

#include "resources/resources.hpp"

namespace stelvane::resources::embedded {

using Entry = NamedText;

// The deployment the executable was built for ("production", "local", ...).
std::string_view deployment_name();
// The text of consts.json.
std::string_view consts_json();
// The deployment values other than the consts.json constants, sorted by key.
std::span<const Entry> deployment_values();
// The HTML pages, sorted by file name.
std::span<const Entry> pages();

}  // namespace stelvane::resources::embedded
