// stelvane-devcloud: a reference implementation of the cloud side the program
// talks to, for tests, benchmarks, the demo and trying the product on one machine.
//
//   stelvane-devcloud --state DIR [--port N] [--tls-port N] [--fault-… ]
//   stelvane-devcloud --state DIR org create NAME
//   stelvane-devcloud --state DIR org list

#include <signal.h>

#include <iostream>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "oauth/primer_rules.hpp"
#include "server.hpp"
#include "state.hpp"

namespace {

constexpr int kDefaultTlsPort = 8443;
constexpr const char* kAdapterName = "stelvane";

// The TLS port that team URLs carry: the one given, else the running (or last)
// server's, else the default.
int url_tls_port(const devcloud::Store& store, const CLI::Option* given, int value) {
  if (given->count() > 0) return value;
  if (const auto info = store.server_info(); info && info->contains("tls_port")) return (*info)["tls_port"].get<int>();
  return kDefaultTlsPort;
}

std::string team_url(const devcloud::Org& org, int tls_port) {
  const devcloud::Adapter& adapter = org.adapters.front();
  return "https://" + devcloud::hook_host(org.oid) + ":" + std::to_string(tls_port) + "/" + org.oid + "/" +
         adapter.name + "/" + adapter.secret;
}

int create_org(devcloud::Store& store, const std::string& name, int tls_port) {
  const devcloud::Org org = store.create_org(name, kAdapterName);
  namespace pr = stelvane::oauth::primer_rules;
  for (const auto& rule : pr::baseline_rules())
    store.put_rule(org.oid,
                   {std::string(rule.name), pr::detect_tree(rule), pr::respond_list(rule), true, {"stelvane"}});
  std::cerr << "Created organization \"" << name << "\" (" << org.oid << ") with " << pr::baseline_rules().size()
            << " baseline rules\n";
  std::cout << team_url(org, tls_port) << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Blocked before any thread exists, so that only sigwait in the server sees them.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  CLI::App app{"Local reference cloud for stelvane: hook endpoint, rules, event log", "stelvane-devcloud"};
  std::string state;
  int port = 0;
  int tls_port = kDefaultTlsPort;
  devcloud::Faults faults;
  app.add_option("--state", state, "State folder (created when missing)")->required();
  auto* port_opt = app.add_option("--port", port, "Also serve plain HTTP on this port (0: any free port)");
  auto* tls_opt = app.add_option("--tls-port", tls_port, "HTTPS port (0: any free port)")->capture_default_str();
  app.add_option("--fault-delay", faults.delay_ms, "Wait this many milliseconds before answering");
  app.add_option("--fault-status", faults.status, "Answer with this HTTP status")->check(CLI::Range(100, 599));
  app.add_flag("--fault-garbage", faults.garbage, "Answer with a body that is not JSON");
  app.add_flag("--fault-no-success", faults.no_success, "Answer JSON without \"success\"");
  app.add_option("--fault-trickle", faults.trickle_ms, "Send the body one byte per this many milliseconds");
  app.add_flag("--fault-close", faults.close, "Close connections without answering");

  auto* org_cmd = app.add_subcommand("org", "Manage organizations")->require_subcommand(1)->fallthrough();
  std::string org_name;
  auto* create_cmd =
      org_cmd->add_subcommand("create", "Create an organization with the baseline rules; prints its team URL")
          ->fallthrough();
  create_cmd->add_option("name", org_name, "Organization name")->required();
  auto* list_cmd = org_cmd->add_subcommand("list", "List organizations and their team URLs")->fallthrough();

  CLI11_PARSE(app, argc, argv);

  try {
    devcloud::Store store(state);
    if (create_cmd->parsed()) return create_org(store, org_name, url_tls_port(store, tls_opt, tls_port));
    if (list_cmd->parsed()) {
      const int url_port = url_tls_port(store, tls_opt, tls_port);
      for (const auto& org : store.list_orgs())
        std::cout << org.oid << "\t" << org.name << "\t" << team_url(org, url_port) << "\n";
      return 0;
    }
    devcloud::ServeOptions options;
    if (port_opt->count() > 0) options.http_port = port;
    options.tls_port = tls_port;
    options.faults = faults;
    std::cout << "State folder: " << store.dir().string() << "\n";
    return devcloud::serve(store, options);
  } catch (const std::exception& e) {
    std::cerr << "stelvane-devcloud: " << e.what() << "\n";
    return 1;
  }
}
