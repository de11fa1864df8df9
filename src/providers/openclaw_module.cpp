#include "providers/openclaw_module.hpp"

#include <fmt/format.h>

#include "providers/assistants.hpp"

namespace stelvane::providers::openclaw {

namespace {

// {0}: program name, {1}: escaped executable path, {2}: documentation address.
// Braces of the script itself are doubled for the formatter.
constexpr std::string_view kTemplate = R"ts(import {{ spawnSync }} from "child_process";

/**
 * {0} Plugin for OpenClaw
 *
 * Intercepts tool calls before they run and monitors message events, for
 * security and compliance monitoring.
 *
 * Plugin documentation: {2}
 */

interface ToolCallEvent {{
  toolName: string;
  params: Record<string, unknown>;
  durationMs?: number;
  error?: boolean;
}}

interface MessageEvent {{
  content: string;
  role?: string;
  timestamp?: string;
}}

interface HookContext {{
  agentId?: string;
  sessionKey?: string;
  channelId?: string;
  toolName?: string;
}}

interface BeforeToolCallResponse {{
  block?: boolean;
  blockReason?: string;
  params?: Record<string, unknown>;
}}

type HookEvent = ToolCallEvent | MessageEvent | Record<string, unknown>;

/**
 * Call {0} for tool authorization.
 */
function authorizeToolCall(
  eventType: string,
  event: HookEvent,
  ctx: HookContext,
): BeforeToolCallResponse | undefined {{
  try {{
    const payload = JSON.stringify({{ eventType, ...event, ...ctx }});
    const result = spawnSync("{1}", ["openclaw-callback"], {{
      input: payload,
      encoding: "utf-8",
      timeout: 30000,
    }});
    if (result.error) {{
      console.error("[{0}] Spawn error: " + result.error.message);
      return undefined;
    }}
    if (result.status !== 0) {{
      console.error("[{0}] Process exited with code " + result.status + ": " + result.stderr);
      return undefined;
    }}
    const output = (result.stdout || "").trim();
    if (output) {{
      try {{
        const answer = JSON.parse(output);
        if (answer.decision === "block") {{
          return {{
            block: true,
            blockReason: answer.reason || "Blocked by {0} policy",
          }};
        }}
      }} catch {{
        // An answer that is not JSON allows the call.
      }}
    }}
    return undefined;
  }} catch (err) {{
    console.error("[{0}] Exception during tool call interception");
    return undefined;
  }}
}}

/**
 * Notify {0} of an event.
 */
function notifyEvent(eventType: string, event: HookEvent, ctx: HookContext): void {{
  try {{
    const payload = JSON.stringify({{ eventType, ...event, ...ctx }});
    spawnSync("{1}", ["openclaw-callback"], {{
      input: payload,
      encoding: "utf-8",
      timeout: 5000,
    }});
  }} catch {{
    // Notifications never disturb OpenClaw.
  }}
}}

export default {{
  id: "{0}",
  name: "{0} Security Plugin",
  description: "Security and compliance monitoring for tool calls and messages",
  register(api: any) {{
    api.on("before_tool_call", (event: ToolCallEvent, ctx: HookContext) => {{
      if (!event.toolName) {{
        return undefined;
      }}
      return authorizeToolCall("before_tool_call", {{ toolName: event.toolName, params: event.params }}, ctx);
    }});

    api.on("after_tool_call", (event: ToolCallEvent, ctx: HookContext) => {{
      notifyEvent("after_tool_call", event, ctx);
    }});

    api.on("message_sent", (event: MessageEvent, ctx: HookContext) => {{
      notifyEvent("message_sent", event, ctx);
    }});

    api.on("message_received", (event: MessageEvent, ctx: HookContext) => {{
      notifyEvent("message_received", event, ctx);
    }});

    console.log("[{0}] Plugin loaded - monitoring tool calls and messages");
  }},
}};
)ts";

}  // namespace

std::string escape_script_string(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '\\': escaped += "\\\\"; break;
      case '"': escaped += "\\\""; break;
      case '\n': escaped += "\\n"; break;
      case '\r': escaped += "\\r"; break;
      case '$': escaped += "\\$"; break;
      case '`': escaped += "\\`"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

std::string module_source(std::string_view executable, std::string_view docs_url) {
  return fmt::format(kTemplate, kProgram, escape_script_string(executable), docs_url);
}

}  // namespace stelvane::providers::openclaw
