#include "testing/test_certificates.h"

#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "testing/process.h"
#include "testing/temp_dir.h"

namespace {

// The extensions of each kind of certificate, for openssl's -extensions.
constexpr const char* kConfig = R"([req]
distinguished_name = name
prompt = no
[name]
CN = unused
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[localhost]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, IP:127.0.0.1
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[other_host]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:mail.other.example
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
)";

constexpr const char* kDays = "3";

std::string opensslPath() {
    for (const char* path : {"/usr/bin/openssl", "/usr/local/bin/openssl"}) {
        if (access(path, X_OK) == 0)
            return path;
    }
    return "";
}

class CertificateMaker {
  public:
    CertificateMaker(std::string program, std::string dir)
        : program_(std::move(program)), dir_(std::move(dir)), config_(dir_ + "openssl.cnf") {}

    const std::string& config() const { return config_; }

    // A self-signed CA: dir/name.pem and dir/name.key.
    bool makeCa(const std::string& name, const std::string& commonName, std::string* why) {
        return run({"req", "-x509", "-config", config_, "-extensions", "ca", "-newkey", "ec",
                    "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days", kDays, "-subj",
                    "/CN=" + commonName, "-keyout", key(name), "-out", cert(name)},
                   why);
    }

    // A server certificate with the extensions of the config section, signed by the CA.
    bool makeServer(const std::string& name, const std::string& commonName,
                    const std::string& section, const std::string& ca, const std::string& serial,
                    std::string* why) {
        std::string request = dir_ + name + ".csr";
        return run({"req", "-new", "-config", config_, "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:P-256", "-nodes", "-subj", "/CN=" + commonName, "-keyout",
                    key(name), "-out", request},
                   why) &&
               run({"x509", "-req", "-in", request, "-CA", cert(ca), "-CAkey", key(ca),
                    "-set_serial", serial, "-days", kDays, "-extfile", config_, "-extensions",
                    section, "-out", cert(name)},
                   why);
    }

    std::string cert(const std::string& name) const { return dir_ + name + ".pem"; }
    std::string key(const std::string& name) const { return dir_ + name + ".key"; }

  private:
    bool run(std::vector<std::string> arguments, std::string* why) {
        arguments.insert(arguments.begin(), program_);
        std::string output;
        if (runCommand(arguments, 10000, &output) == 0)
            return true;
        if (why) {
            *why = "failed:";
            for (const std::string& a : arguments) *why += " " + a;
            *why += "\n" + output;
        }
        return false;
    }

    std::string program_;
    std::string dir_;
    std::string config_;
};

}  // namespace

bool makeTestCertificates(const std::string& dir, TestCertificates* out, std::string* why) {
    std::string program = opensslPath();
    if (program.empty()) {
        if (why)
            *why = "the openssl command is not installed (Debian package openssl)";
        return false;
    }
    std::string slashed = dir.ends_with('/') ? dir : dir + "/";
    std::error_code ec;
    std::filesystem::create_directories(slashed, ec);
    CertificateMaker maker(program, slashed);
    writeFile(maker.config(), kConfig);
    if (!maker.makeCa("ca", "Tarnwick Test CA", why) ||
        !maker.makeServer("server", "localhost", "localhost", "ca", "2", why) ||
        !maker.makeServer("other-host", "mail.other.example", "other_host", "ca", "3", why) ||
        !maker.makeCa("untrusted-ca", "Tarnwick Untrusted Test CA", why) ||
        !maker.makeServer("untrusted", "localhost", "localhost", "untrusted-ca", "4", why))
        return false;
    out->caFile = maker.cert("ca");
    out->serverCert = maker.cert("server");
    out->serverKey = maker.key("server");
    out->otherHostCert = maker.cert("other-host");
    out->otherHostKey = maker.key("other-host");
    out->untrustedCaFile = maker.cert("untrusted-ca");
    out->untrustedCert = maker.cert("untrusted");
    out->untrustedKey = maker.key("untrusted");
    return true;
}
