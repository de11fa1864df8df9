// The smallest client doing what a hook run does on the network: one verified
// HTTPS POST of a JSON body, trusted roots looked up lazily in the hashed CA
// directory (SSL_CERT_DIR, else OpenSSL's default directory).
//
//   hook_bench_client HOST PORT PATH SECRET BODY_FILE

#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <openssl/x509.h>

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s HOST PORT PATH SECRET BODY_FILE\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[5], std::ios::binary);
  std::ostringstream body;
  body << in.rdbuf();

  const char* dir = std::getenv(X509_get_default_cert_dir_env());
  httplib::SSLClient client(argv[1], std::atoi(argv[2]));
  client.set_ca_cert_path("", dir != nullptr && *dir != '\0' ? dir : X509_get_default_cert_dir());
  client.enable_server_certificate_verification(true);
  client.set_connection_timeout(10);
  client.set_read_timeout(10);
  httplib::Headers headers = {{"nx-secret", argv[4]}, {"User-Agent", "hook-bench/1"}};
  auto res = client.Post(argv[3], headers, body.str(), "application/json; charset=UTF-8");
  if (!res) {
    std::fprintf(stderr, "request failed: %s\n", httplib::to_string(res.error()).c_str());
    return 1;
  }
  std::fwrite(res->body.data(), 1, res->body.size(), stdout);
  return res->status == 200 ? 0 : 1;
}
