#pragma once

#include <string>

// A certificate authority made for one test, and certificates it signed, written with the
// openssl command into a directory (PEM files, EC P-256 keys, valid for three days).
struct TestCertificates {
    std::string caFile;      // the CA's certificate: what a client trusts
    std::string serverCert;  // for "localhost" and 127.0.0.1, signed by the CA
    std::string serverKey;
    std::string otherHostCert;  // signed by the same CA, but only for "mail.other.example"
    std::string otherHostKey;
    std::string untrustedCaFile;  // a second CA nobody trusts
    std::string untrustedCert;    // for "localhost" and 127.0.0.1, signed by the untrusted CA
    std::string untrustedKey;
};

// Makes them in dir; false with the reason (the command and openssl's output) in *why.
bool makeTestCertificates(const std::string& dir, TestCertificates* out, std::string* why);
