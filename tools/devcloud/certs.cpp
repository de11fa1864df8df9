#include "certs.hpp"

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

namespace devcloud {

namespace {

namespace fs = std::filesystem;

struct Deleter {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(X509* p) const { X509_free(p); }
  void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter>;
using Cert = std::unique_ptr<X509, Deleter>;

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error("Unable to create TLS files: " + what); }

Key new_key() {
  Key key(EVP_EC_gen("P-256"));
  if (!key) fail("key generation");
  return key;
}

void add_ext(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  std::unique_ptr<X509_EXTENSION, Deleter> ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
  if (!ext || X509_add_ext(cert, ext.get(), -1) != 1) fail(std::string("extension ") + value);
}

Cert new_cert(EVP_PKEY* key, const char* common_name, X509* issuer, EVP_PKEY* issuer_key, long days) {
  Cert cert(X509_new());
  if (!cert) fail("certificate");
  X509_set_version(cert.get(), 2);
  unsigned char serial[16];
  RAND_bytes(serial, sizeof serial);
  serial[0] &= 0x7f;
  BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
  BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
  BN_free(bn);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), days * 24 * 3600);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("stelvane-devcloud"), -1,
                             -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(common_name), -1, -1, 0);
  X509* signer = issuer != nullptr ? issuer : cert.get();
  X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
  if (issuer == nullptr) {
    add_ext(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
    add_ext(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    add_ext(cert.get(), signer, NID_subject_key_identifier, "hash");
  } else {
    add_ext(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
    add_ext(cert.get(), signer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
    add_ext(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    add_ext(cert.get(), signer, NID_subject_alt_name, "DNS:localhost,DNS:*.hook.localhost,IP:127.0.0.1");
    add_ext(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
  }
  if (X509_sign(cert.get(), issuer_key, EVP_sha256()) == 0) fail("signature");
  return cert;
}

std::unique_ptr<std::FILE, Deleter> open_for_write(const fs::path& file, mode_t mode) {
  const mode_t old = ::umask(0077 | (~mode & 0777));
  std::unique_ptr<std::FILE, Deleter> f(std::fopen(file.c_str(), "wb"));
  ::umask(old);
  if (!f) fail("cannot write " + file.string());
  ::chmod(file.c_str(), mode);
  return f;
}

void write_key(const fs::path& file, EVP_PKEY* key) {
  auto f = open_for_write(file, 0600);
  if (PEM_write_PrivateKey(f.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) fail("writing " + file.string());
}

void write_certs(const fs::path& file, std::initializer_list<X509*> certs) {
  auto f = open_for_write(file, 0644);
  for (X509* c : certs)
    if (PEM_write_X509(f.get(), c) != 1) fail("writing " + file.string());
}

}  // namespace

TlsFiles ensure_tls_files(const fs::path& dir) {
  TlsFiles files{dir / "ca.pem", dir / "server.pem", dir / "server-key.pem", false};
  if (fs::exists(files.ca_cert) && fs::exists(files.server_cert) && fs::exists(files.server_key)) return files;

  const Key ca_key = new_key();
  const Cert ca = new_cert(ca_key.get(), "stelvane-devcloud local CA", nullptr, ca_key.get(), 3650);
  const Key server_key = new_key();
  const Cert server = new_cert(server_key.get(), "localhost", ca.get(), ca_key.get(), 825);
  // The CA key is not kept: nothing else is ever signed with it.
  write_key(files.server_key, server_key.get());
  write_certs(files.server_cert, {server.get(), ca.get()});
  write_certs(files.ca_cert, {ca.get()});
  files.created = true;
  return files;
}

}  // namespace devcloud
