// An HTTPS hook endpoint on 127.0.0.1 that allows every tool use.
//
//   hook_bench_server CERT KEY PORT_FILE BODY_FILE
//
// Listens on a free port, writes the port number to PORT_FILE, answers every POST
// with {"success":true} and writes the body of the first request to BODY_FILE (the
// request document a hook run sends, reused by the other clients). Runs until
// killed.

#include <httplib.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s CERT KEY PORT_FILE BODY_FILE\n", argv[0]);
    return 2;
  }
  httplib::SSLServer server(argv[1], argv[2]);
  if (!server.is_valid()) {
    std::fprintf(stderr, "cannot load the certificate or key\n");
    return 1;
  }
  const std::string body_file = argv[4];
  std::atomic<bool> saved{false};
  server.Post(".*", [&](const httplib::Request& req, httplib::Response& res) {
    if (!saved.exchange(true)) std::ofstream(body_file, std::ios::binary) << req.body;
    res.set_content(R"({"success":true})", "application/json");
  });
  int port = server.bind_to_any_port("127.0.0.1");
  if (port <= 0) {
    std::fprintf(stderr, "cannot bind\n");
    return 1;
  }
  {
    std::ofstream out(argv[3]);
    out << port << '\n';
  }
  return server.listen_after_bind() ? 0 : 1;
}
