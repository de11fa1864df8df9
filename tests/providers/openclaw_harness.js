// Runs the generated OpenClaw plugin the way OpenClaw does: loads the TypeScript
// module, calls register() with a stub api, then fires the hooks listed in a
// scenario file and prints what each returned and what the program received.
//
// usage: node openclaw_harness.js <typescript dir> <index.ts> <scenario.json>
// The scenario: {"bin": <dir of the fake executable>, "calls": [{"hook", "event",
// "ctx", "mode"}]}; "mode" is written to <bin>/mode for the fake to act on, and
// the mode "missing" moves the executable away for that call.
"use strict";
const fs = require("fs");
const path = require("path");

const [tsDir, modulePath, scenarioPath] = process.argv.slice(2);
const ts = require(tsDir);
const scenario = JSON.parse(fs.readFileSync(scenarioPath, "utf8"));

const source = fs.readFileSync(modulePath, "utf8");
const compiled = ts.transpileModule(source, {
  compilerOptions: { module: ts.ModuleKind.CommonJS, target: ts.ScriptTarget.ES2020 },
  reportDiagnostics: true,
  fileName: "index.ts",
});
const diagnostics = (compiled.diagnostics || []).map((d) => ts.flattenDiagnosticMessageText(d.messageText, "\n"));

const logs = [];
const errors = [];
console.log = (...args) => logs.push(args.join(" "));
console.error = (...args) => errors.push(args.join(" "));

const mod = { exports: {} };
new Function("require", "module", "exports", compiled.outputText)(require, mod, mod.exports);
const plugin = mod.exports.default;

const handlers = {};
const order = [];
plugin.register({
  on(name, handler) {
    order.push(name);
    handlers[name] = handler;
  },
});
const loaded = logs.splice(0);

const exe = path.join(scenario.bin, "stelvane");
const callsLog = path.join(scenario.bin, "calls.log");
const results = [];
for (const call of scenario.calls) {
  fs.writeFileSync(path.join(scenario.bin, "mode"), call.mode || "allow");
  fs.writeFileSync(callsLog, "");
  if (call.mode === "missing") fs.renameSync(exe, exe + ".away");
  errors.length = 0;
  let returned;
  try {
    returned = handlers[call.hook](call.event, call.ctx);
  } finally {
    if (call.mode === "missing") fs.renameSync(exe + ".away", exe);
  }
  const received = fs
    .readFileSync(callsLog, "utf8")
    .split("\n")
    .filter((line) => line.length > 0)
    .map((line) => JSON.parse(line));
  results.push({
    returned: returned === undefined ? "undefined" : returned,
    received,
    errors: errors.slice(),
  });
}

process.stdout.write(
  JSON.stringify({
    diagnostics,
    id: plugin.id,
    name: plugin.name,
    description: plugin.description,
    order,
    loaded,
    results,
  }),
);
