#pragma once
// The reference cloud's own certificate authority and server certificate.

#include <filesystem>

namespace devcloud {

struct TlsFiles {
  std::filesystem::path ca_cert;      // ca.pem: what clients trust (SSL_CERT_FILE)
  std::filesystem::path server_cert;  // server.pem: leaf followed by the CA
  std::filesystem::path server_key;   // server-key.pem, owner-only
  bool created = false;               // made by this call
};

// Creates, when any of the files is missing, a CA and a server certificate for
// 127.0.0.1, localhost and *.hook.localhost signed by it, in `dir`. Existing files
// are kept so that clients configured once stay valid across restarts.
TlsFiles ensure_tls_files(const std::filesystem::path& dir);

}  // namespace devcloud
