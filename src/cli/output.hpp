#pragma once
// Console output shared by several commands: the banner line and the
// configuration section (title, underline, aligned "label : value" rows).

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/loader.hpp"

namespace stelvane::cli {

using SectionRows = std::vector<std::pair<std::string, std::string>>;

// The section as printed: newline, bold cyan title, "─" once per title byte,
// the rows padded to the longest label, newline. Colour only on a terminal.
std::string format_section(const std::string& title, const SectionRows& rows, bool color);
void print_section(const std::string& title, const SectionRows& rows);

// "stelvane 1.0.8" and a newline.
void print_banner();

// The file name of the running executable, or "stelvane" when it is unknown.
std::string program_file_name();
// The notice shown when no team is configured: the banner, "  Not logged in."
// and how to create or join a team, naming `program`.
std::string not_logged_in_notice(std::string_view program);
// Prints not_logged_in_notice(program_file_name()) to standard output.
void print_not_logged_in();

// "enabled" or "disabled".
const char* enabled_text(bool on);

// The settings section printed by configure and show-configuration.
void print_settings_section(const config::Config& config);

}  // namespace stelvane::cli
