#include "cli/output.hpp"

#include <algorithm>
#include <cstdio>

#include <fmt/format.h>

#include "common/build_info.hpp"
#include "common/file_copy.hpp"
#include "common/term.hpp"

namespace stelvane::cli {

using common::Style;
using common::styled;

std::string format_section(const std::string& title, const SectionRows& rows, bool color) {
  std::string out = "\n";
  out += styled(title, Style::BoldCyan, color) + "\n";
  std::string rule;
  for (size_t i = 0; i < title.size(); ++i) rule += "\u2500";
  out += styled(rule, Style::Blue, color) + "\n";
  size_t width = 0;
  for (const auto& row : rows) width = std::max(width, row.first.size());
  for (const auto& [label, value] : rows) {
    out += "  " + styled(label, Style::BoldCyan, color) + std::string(width - label.size(), ' ') + " " +
           styled(":", Style::BrightBlack, color) + " " + styled(value, Style::White, color) + "\n";
  }
  out += "\n";
  return out;
}

void print_section(const std::string& title, const SectionRows& rows) {
  std::fputs(format_section(title, rows, common::color_enabled(stdout)).c_str(), stdout);
}

void print_banner() { std::printf("%s %s\n", build::kProgramName, build::kVersion); }

std::string program_file_name() {
  try {
    std::string name = common::current_executable().filename().string();
    if (!name.empty()) return name;
  } catch (const std::exception&) {
  }
  return build::kProgramName;
}

std::string not_logged_in_notice(std::string_view program) {
  return fmt::format(
      "{} {}\n\n  Not logged in.\n\n  Run `{} init-team` to create a new team, or\n"
      "  Run `{} join-team <URL>` to join an existing team.\n\n",
      build::kProgramName, build::kVersion, program, program);
}

void print_not_logged_in() {
  std::fputs(not_logged_in_notice(program_file_name()).c_str(), stdout);
  std::fflush(stdout);
}

const char* enabled_text(bool on) { return on ? "enabled" : "disabled"; }

void print_settings_section(const config::Config& c) {
  print_section(fmt::format(" {} {} ", build::kProgramName, build::kVersion),
                {{"Fail Open", enabled_text(c.user.fail_open)},
                 {"Audit Tool Use", enabled_text(c.user.audit_tool_use)},
                 {"Audit Prompts", enabled_text(c.user.audit_prompts)},
                 {"Install ID", c.install_id},
                 {"Organization", c.org.name},
                 {"Organization URL", c.org.url}});
}

}  // namespace stelvane::cli
